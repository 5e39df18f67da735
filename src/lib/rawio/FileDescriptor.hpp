// Move-only owner of one POSIX file descriptor.
#pragma once

#include <sys/types.h>

#include "lib/util/StringView.hpp"

namespace RawIO {

class FileDescriptor {
  public:
    FileDescriptor() noexcept = default;
    explicit FileDescriptor(int adopted) noexcept : fd(adopted) {}
    // Throw Exception "IO-Error on open()" with the errno of open.
    FileDescriptor(bw_selftest::TemporaryCStringView path, int flags);
    FileDescriptor(bw_selftest::TemporaryCStringView path, int flags, mode_t mode);

    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : fd(other.fd) { other.fd = -1; }
    // Swaps, so the descriptor held before is closed with the moved-from object.
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        const int mine = fd;
        fd = other.fd;
        other.fd = mine;
        return *this;
    }
    ~FileDescriptor();

    int get() const noexcept { return fd; }
    bool isValid() const noexcept { return fd >= 0; }
    explicit operator bool() const noexcept { return isValid(); }
    // Hands the descriptor to the caller, who then owns it.
    [[nodiscard]] int release() noexcept {
        const int released = fd;
        fd = -1;
        return released;
    }

  private:
    int fd = -1;
};

}  // namespace RawIO
