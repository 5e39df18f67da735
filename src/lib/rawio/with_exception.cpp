// Throwing wrappers of descriptor I/O, with and without deadlines.
#include "lib/rawio/with_exception.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "lib/rawio/Exception.hpp"
#include "lib/rawio/TimeoutClock.hpp"

namespace RawIO {

namespace {

constexpr std::size_t kDiscardChunk = 2048;

// True when the descriptor became ready within the timeout.
bool pollOrThrow(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, timeoutMs);
    if (ready < 0) {
        throw Exception(errno, "IO-Error on poll()");
    }
    return ready > 0;
}

// The loop shared by readAtLeast and writeAtLeast; `step(done)` moves up to the rest of
// `maximum` from `done` on and returns the count.
template <typename Step>
std::size_t transferAtLeast(int fd, short events, std::size_t minimum, std::size_t maximum,
                            int timeoutMs, Step step) {
    const TimeoutClock clock;
    if (!clock.isValid()) {
        throw Exception("Error getting monotonic clock");
    }
    if (timeoutMs == 0) {
        return 0;
    }
    std::size_t done = 0;
    int waitMs = timeoutMs;
    for (;;) {
        if (!pollOrThrow(fd, events, waitMs)) {
            return done;
        }
        done += step(done);
        // A minimum above the maximum could never be reached.
        if (done >= minimum || done >= maximum) {
            return done;
        }
        const std::int64_t next = clock.remaining(timeoutMs);
        if (next == 0) {
            return done;
        }
        // Never more than timeoutMs, so it fits.
        waitMs = static_cast<int>(next);
    }
}

}  // namespace

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

void discardInputOrThrow(int fd) {
    char scratch[kDiscardChunk];
    while (pollOrThrow(fd, POLLIN, 0)) {
        // At end of file poll keeps reporting the descriptor readable: nothing is pending.
        if (readOrThrow(fd, scratch, sizeof scratch) == 0) {
            return;
        }
    }
}

std::size_t readSomeWithin(int fd, void* buffer, std::size_t size, int timeoutMs) {
    if (!pollOrThrow(fd, POLLIN, timeoutMs)) {
        return 0;
    }
    return static_cast<std::size_t>(readOrThrow(fd, buffer, size));
}

std::size_t writeSomeWithin(int fd, const void* data, std::size_t size, int timeoutMs) {
    if (!pollOrThrow(fd, POLLOUT, timeoutMs)) {
        return 0;
    }
    return static_cast<std::size_t>(writeOrThrow(fd, data, size));
}

std::size_t readAtLeast(int fd, void* buffer, std::size_t minimum, std::size_t maximum,
                        int timeoutMs) {
    auto* bytes = static_cast<char*>(buffer);
    return transferAtLeast(fd, POLLIN, minimum, maximum, timeoutMs, [&](std::size_t done) {
        return static_cast<std::size_t>(readOrThrow(fd, bytes + done, maximum - done));
    });
}

std::size_t writeAtLeast(int fd, const void* data, std::size_t minimum, std::size_t maximum,
                         int timeoutMs) {
    const auto* bytes = static_cast<const char*>(data);
    return transferAtLeast(fd, POLLOUT, minimum, maximum, timeoutMs, [&](std::size_t done) {
        return static_cast<std::size_t>(writeOrThrow(fd, bytes + done, maximum - done));
    });
}

bool readFullWithin(int fd, void* buffer, std::size_t length, int timeoutMs) {
    return readAtLeast(fd, buffer, length, length, timeoutMs) == length;
}

// Only a complete write counts: a partial one would be reported as success otherwise.
bool writeFullWithin(int fd, const void* data, std::size_t length, int timeoutMs) {
    return writeAtLeast(fd, data, length, length, timeoutMs) == length;
}

bool readExactly(int fd, void* buffer, std::size_t length) {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t count = readOrThrow(fd, bytes + done, length - done);
        if (count == 0) {
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

bool writeExactly(int fd, const void* data, std::size_t length) {
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t count = writeOrThrow(fd, bytes + done, length - done);
        if (count == 0) {
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

}  // namespace RawIO
