// FileDescriptor and the throwing whole-file operations.
#include "lib/rawio/file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "lib/rawio/Exception.hpp"
#include "lib/rawio/FileDescriptor.hpp"
#include "lib/rawio/with_exception.hpp"

namespace RawIO {

FileDescriptor::FileDescriptor(bw_selftest::TemporaryCStringView path, int flags)
    : fd(::open(path.data(), flags)) {
    if (fd < 0) {
        throw Exception(errno, "IO-Error on open()");
    }
}

FileDescriptor::FileDescriptor(bw_selftest::TemporaryCStringView path, int flags, mode_t mode)
    : fd(::open(path.data(), flags, mode)) {
    if (fd < 0) {
        throw Exception(errno, "IO-Error on open()");
    }
}

// Not retried on EINTR: on Linux the descriptor is gone whatever close returns.
// errno is kept so that a caller can still report the failure that led here.
FileDescriptor::~FileDescriptor() {
    if (fd >= 0) {
        const int savedErrno = errno;
        ::close(fd);
        errno = savedErrno;
    }
}

void writeWholeFile(bw_selftest::TemporaryCStringView path, const void* data, std::size_t length) {
    FileDescriptor file(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const auto* bytes = static_cast<const char*>(data);
    std::size_t written = 0;
    while (written < length) {
        const ssize_t count = writeOrThrow(file.get(), bytes + written, length - written);
        // A write that takes nothing would make this loop spin for ever.
        if (count == 0) {
            throw Exception(0, "IO-Error on write()");
        }
        written += static_cast<std::size_t>(count);
    }
    if (::close(file.release()) != 0) {
        throw Exception(errno, "IO-Error on close()");
    }
}

bw_selftest::TemporaryStringView readWholeFile(bw_selftest::TemporaryCStringView path, char* buffer,
                                               std::size_t capacity) {
    FileDescriptor file(path, O_RDONLY);
    std::size_t count = 0;
    while (count < capacity) {
        const ssize_t got = readOrThrow(file.get(), buffer + count, capacity - count);
        if (got == 0) {
            return bw_selftest::TemporaryStringView(buffer, count);
        }
        count += static_cast<std::size_t>(got);
    }
    char scratch = 0;
    if (readOrThrow(file.get(), &scratch, 1) != 0) {
        throw Exception("file bigger than buffer");
    }
    return bw_selftest::TemporaryStringView(buffer, count);
}

}  // namespace RawIO
