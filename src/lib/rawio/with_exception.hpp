// Throwing wrappers of single descriptor calls.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace RawIO {

// One read(); throws "IO-Error on read()" on failure. 0 means end of file.
ssize_t readOrThrow(int fd, void* buffer, std::size_t size);
// One write(); throws "IO-Error on write()" on failure.
ssize_t writeOrThrow(int fd, const void* data, std::size_t size);

}  // namespace RawIO
