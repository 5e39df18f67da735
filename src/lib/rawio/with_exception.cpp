// Throwing wrappers of single descriptor calls.
#include "lib/rawio/with_exception.hpp"

#include <unistd.h>

#include <cerrno>

#include "lib/rawio/Exception.hpp"

namespace RawIO {

ssize_t readOrThrow(int fd, void* buffer, std::size_t size) {
    const ssize_t count = ::read(fd, buffer, size);
    if (count < 0) {
        throw Exception(errno, "IO-Error on read()");
    }
    return count;
}

ssize_t writeOrThrow(int fd, const void* data, std::size_t size) {
    const ssize_t count = ::write(fd, data, size);
    if (count < 0) {
        throw Exception(errno, "IO-Error on write()");
    }
    return count;
}

}  // namespace RawIO
