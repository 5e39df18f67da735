// Throwing wrappers of descriptor I/O, with and without deadlines.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace RawIO {

// One read(); throws "IO-Error on read()" on failure. 0 means end of file.
ssize_t readOrThrow(int fd, void* buffer, std::size_t size);
// One write(); throws "IO-Error on write()" on failure.
ssize_t writeOrThrow(int fd, const void* data, std::size_t size);

// Timeouts are milliseconds; a negative one lets the first poll wait without limit. Poll
// failures throw "IO-Error on poll()", an unreadable clock "Error getting monotonic clock".

// Drops whatever input is pending now; returns once nothing is left or end of file is seen.
// EAGAIN from read() is a failure here.
void discardInputOrThrow(int fd);

// One poll within the timeout, then one transfer of up to `size` bytes; 0 when nothing
// became ready.
std::size_t readSomeWithin(int fd, void* buffer, std::size_t size, int timeoutMs);
std::size_t writeSomeWithin(int fd, const void* data, std::size_t size, int timeoutMs);

// Transfers up to `maximum` bytes, returning as soon as `minimum` have moved or the deadline
// passes; the count moved. Timeout 0 moves nothing.
std::size_t readAtLeast(int fd, void* buffer, std::size_t minimum, std::size_t maximum,
                        int timeoutMs);
std::size_t writeAtLeast(int fd, const void* data, std::size_t minimum, std::size_t maximum,
                         int timeoutMs);

// All `length` bytes within the timeout, or false.
[[nodiscard]] bool readFullWithin(int fd, void* buffer, std::size_t length, int timeoutMs);
[[nodiscard]] bool writeFullWithin(int fd, const void* data, std::size_t length, int timeoutMs);

// All `length` bytes, however long it takes; false at end of file (read) or when write()
// takes nothing, since the loop could make no further progress.
[[nodiscard]] bool readExactly(int fd, void* buffer, std::size_t length);
[[nodiscard]] bool writeExactly(int fd, const void* data, std::size_t length);

}  // namespace RawIO
