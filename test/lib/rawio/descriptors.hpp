// Real descriptors for the descriptor tests: pipes of a known size and pseudo-terminals.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "lib/rawio/FileDescriptor.hpp"

namespace bw_test {

struct Pipe {
    RawIO::FileDescriptor readEnd;
    RawIO::FileDescriptor writeEnd;

    void closeWriteEnd() { writeEnd = RawIO::FileDescriptor(); }
};

// `flags` may add O_NONBLOCK to both ends.
inline Pipe makePipe(int flags = 0) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | flags) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    return Pipe{RawIO::FileDescriptor(fds[0]), RawIO::FileDescriptor(fds[1])};
}

// A pipe that holds exactly one page (4096 bytes), so that "full" is well defined.
inline Pipe makeOnePagePipe(int flags = 0) {
    Pipe pipe = makePipe(flags);
    if (::fcntl(pipe.writeEnd.get(), F_SETPIPE_SZ, 4096) != 4096) {
        throw std::runtime_error("F_SETPIPE_SZ failed");
    }
    return pipe;
}

inline void putBytes(int fd, const std::string& bytes) {
    if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("test write failed");
    }
}

// A thread that writes `pieces` to `fd` one after another, `gap` apart; join it.
inline std::thread feedInPieces(int fd, std::vector<std::string> pieces,
                                std::chrono::milliseconds gap) {
    return std::thread([fd, pieces = std::move(pieces), gap] {
        for (const std::string& piece : pieces) {
            putBytes(fd, piece);
            std::this_thread::sleep_for(gap);
        }
    });
}

// A descriptor number that is not open: poll reports it as POLLNVAL, read and write fail
// with EBADF. (poll ignores negative numbers altogether.)
inline int closedDescriptor() {
    const int fd = ::dup(0);
    if (fd < 0) {
        throw std::runtime_error("dup failed");
    }
    ::close(fd);
    return fd;
}

struct PseudoTerminal {
    RawIO::FileDescriptor master;
    RawIO::FileDescriptor slave;
};

// A raw-mode pair: bytes pass unchanged in both directions.
inline PseudoTerminal openPseudoTerminal() {
    RawIO::FileDescriptor master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    RawIO::FileDescriptor slave(::open(::ptsname(master.get()), O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios settings{};
    if (!slave || ::tcgetattr(slave.get(), &settings) != 0) {
        throw std::runtime_error("cannot open the pseudo-terminal's slave");
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(slave.get(), TCSANOW, &settings) != 0) {
        throw std::runtime_error("cannot make the pseudo-terminal raw");
    }
    return PseudoTerminal{std::move(master), std::move(slave)};
}

// Milliseconds since `start` on the steady clock.
inline std::int64_t msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace bw_test
