// Result codes of the Raw I/O library and its error-code file operations.
#include "lib/rawio/RawIO.hpp"

#include <error.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "lib/rawio/FileDescriptor.hpp"
#include "lib/rawio/TimeoutClock.hpp"
#include "lib/rawio/file_await.hpp"

namespace RawIO {

namespace {

constexpr const char* kResultTexts[] = {
    "",                                            // Other
    "",                                            // OK: printResult writes ": OK" itself
    ": Permission denied",                         // PermissionDenied
    ": Does not exist",                            // DoesNotExist
    ": Write failed",                              // WriteFailed
    ": Read failed",                               // ReadFailed
    ": Out of memory",                             // OutOfMemory
    ": Timed out",                                 // TimedOut
    ": Not all expected data was written",         // IncompleteWrite
    ": Not all expected data was read",            // IncompleteRead
    ": Poll failed",                               // PollFailed
    ": Unable to get timer for timeout handling",  // NoTimer
};

// errno 1 to 13; Other marks the numbers without a mapping.
constexpr Result kErrnoResults[] = {
    Result::PermissionDenied,  // EPERM
    Result::DoesNotExist,      // ENOENT
    Result::Other,             // ESRCH
    Result::Other,             // EINTR
    Result::Other,             // EIO
    Result::Other,             // ENXIO
    Result::Other,             // E2BIG
    Result::Other,             // ENOEXEC
    Result::Other,             // EBADF
    Result::Other,             // ECHILD
    Result::Other,             // EAGAIN
    Result::OutOfMemory,       // ENOMEM
    Result::PermissionDenied,  // EACCES
};

// One event header plus the longest name and its NUL: the kernel never hands out less.
constexpr std::size_t kEventBufferSize = sizeof(inotify_event) + 255 + 1;

constexpr std::size_t kDiscardChunk = 128;

// poll() of one descriptor: >0 ready, 0 timed out, -1 failed (errno set).
int pollOne(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    return ::poll(&entry, 1, timeoutMs);
}

// The loop shared by readWithTimeout and writeWithTimeout; `step(done)` moves the bytes
// from `done` on and returns what read() or write() returned.
template <typename Step>
Result transferWithTimeout(int fd, short events, std::size_t length, int timeoutMs, Result failure,
                           Step step) {
    const TimeoutClock clock;
    if (!clock.isValid()) {
        return Result::NoTimer;
    }
    std::size_t done = 0;
    int waitMs = timeoutMs;
    for (;;) {
        const int ready = pollOne(fd, events, waitMs);
        if (ready < 0) {
            return resultFromErrno(errno, Result::PollFailed);
        }
        if (ready == 0) {
            return Result::TimedOut;
        }
        const ssize_t count = step(done);
        if (count < 0) {
            return resultFromErrno(errno, failure);
        }
        done += static_cast<std::size_t>(count);
        const std::int64_t next = clock.remaining(timeoutMs);
        if (done >= length || next < 1) {
            return done >= length ? Result::OK : Result::TimedOut;
        }
        // Never more than timeoutMs, so it fits.
        waitMs = static_cast<int>(next);
    }
}

}  // namespace

Result resultFromErrno(int errorNumber, Result fallback) {
    if (errorNumber < 1 || errorNumber > 13) {
        return fallback;
    }
    const Result mapped = kErrnoResults[errorNumber - 1];
    return mapped == Result::Other ? fallback : mapped;
}

const char* resultText(Result result) {
    const int value = static_cast<int>(result);
    if (value < -1 || value > 10) {
        return "";
    }
    return kResultTexts[value + 1];
}

bool reportError(Result result, const char* prefix) {
    if (result == Result::OK) {
        return true;
    }
    error(0, 0, "%s%s", prefix, resultText(result));
    return false;
}

bool printResult(Result result) {
    if (result == Result::OK) {
        std::puts(": OK");
        return true;
    }
    std::puts(resultText(result));
    return false;
}

Result writeFile(const char* path, const std::string& data) {
    const FileDescriptor file(::open(path, O_WRONLY));
    if (!file) {
        return resultFromErrno(errno, Result::Other);
    }
    const ssize_t count = ::write(file.get(), data.data(), data.size());
    if (count < 0) {
        return resultFromErrno(errno, Result::WriteFailed);
    }
    if (static_cast<std::size_t>(count) != data.size()) {
        return Result::IncompleteWrite;
    }
    return Result::OK;
}

Result readFile(const char* path, std::string& out, std::size_t maxSize) {
    const FileDescriptor file(::open(path, O_RDONLY));
    if (!file) {
        return resultFromErrno(errno, Result::Other);
    }
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[maxSize == 0 ? 1 : maxSize]);
    if (!buffer) {
        return Result::OutOfMemory;
    }
    const ssize_t count = ::read(file.get(), buffer.get(), maxSize);
    if (count < 0) {
        return Result::ReadFailed;
    }
    out.assign(buffer.get(), static_cast<std::size_t>(count));
    return Result::OK;
}

Result fileExists(const char* path) {
    if (::access(path, F_OK) == 0) {
        return Result::OK;
    }
    return resultFromErrno(errno, Result::Other);
}

Result removeFile(const char* path) {
    if (::unlink(path) == 0) {
        return Result::OK;
    }
    return resultFromErrno(errno, Result::Other);
}

Result makeDirectory(const char* path) {
    if (::mkdir(path, 0755) == 0) {
        return Result::OK;
    }
    return resultFromErrno(errno, Result::Other);
}

std::string joinPath(const char* directory, const char* name) {
    std::string path(directory);
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

Result writeAll(int fd, const void* data, std::size_t length) {
    const ssize_t count = ::write(fd, data, length);
    if (count < 0) {
        return resultFromErrno(errno, Result::WriteFailed);
    }
    return static_cast<std::size_t>(count) == length ? Result::OK : Result::IncompleteWrite;
}

Result readAll(int fd, void* buffer, std::size_t length) {
    const ssize_t count = ::read(fd, buffer, length);
    if (count < 0) {
        return resultFromErrno(errno, Result::ReadFailed);
    }
    return static_cast<std::size_t>(count) == length ? Result::OK : Result::IncompleteRead;
}

Result discardInput(int fd) {
    for (;;) {
        const int ready = pollOne(fd, POLLIN, 0);
        if (ready == 0) {
            return Result::OK;
        }
        if (ready < 0) {
            return resultFromErrno(errno, Result::PollFailed);
        }
        char scratch[kDiscardChunk];
        const ssize_t count = ::read(fd, scratch, sizeof scratch);
        // At end of file poll keeps reporting the descriptor readable: nothing is pending.
        if (count == 0) {
            return Result::OK;
        }
        if (count < 0) {
            return errno == EAGAIN ? Result::OK : resultFromErrno(errno, Result::ReadFailed);
        }
    }
}

Result readWithTimeout(int fd, void* buffer, std::size_t length, int timeoutMs) {
    auto* bytes = static_cast<char*>(buffer);
    return transferWithTimeout(
        fd, POLLIN, length, timeoutMs, Result::ReadFailed,
        [&](std::size_t done) { return ::read(fd, bytes + done, length - done); });
}

Result writeWithTimeout(int fd, const void* data, std::size_t length, int timeoutMs) {
    const auto* bytes = static_cast<const char*>(data);
    return transferWithTimeout(
        fd, POLLOUT, length, timeoutMs, Result::WriteFailed,
        [&](std::size_t done) { return ::write(fd, bytes + done, length - done); });
}

Result readByte(int fd, std::uint8_t* byte, int timeoutMs) {
    const int ready = pollOne(fd, POLLIN, timeoutMs);
    if (ready == 0) {
        return Result::TimedOut;
    }
    if (ready < 0) {
        return resultFromErrno(errno, Result::PollFailed);
    }
    return readAll(fd, byte, 1);
}

Result writeByte(int fd, std::uint8_t byte, int timeoutMs) {
    const int ready = pollOne(fd, POLLOUT, timeoutMs);
    if (ready == 0) {
        return Result::TimedOut;
    }
    if (ready < 0) {
        return resultFromErrno(errno, Result::PollFailed);
    }
    return writeAll(fd, &byte, 1);
}

Result awaitFile(const char* name, const char* directory, int timeoutMs) {
    const std::string path = joinPath(directory, name);
    // Any failure of this test only means that the entry is not there yet.
    if (fileExists(path.c_str()) == Result::OK) {
        return Result::OK;
    }
    const TimeoutClock clock;
    if (timeoutMs != -1 && !clock.isValid()) {
        return Result::NoTimer;
    }
    const std::unique_ptr<char[]> events(new (std::nothrow) char[kEventBufferSize]);
    if (!events) {
        return Result::OutOfMemory;
    }
    const FileDescriptor watch(::inotify_init());
    if (!watch) {
        return resultFromErrno(errno, Result::Other);
    }
    if (::inotify_add_watch(watch.get(), directory, kCreateWatchMask) < 0) {
        return resultFromErrno(errno, Result::Other);
    }
    // The entry may have appeared between the first test and the start of the watch.
    if (fileExists(path.c_str()) == Result::OK) {
        return Result::OK;
    }
    const bw_selftest::TemporaryCStringView wanted(name);
    int left = timeoutMs;
    while (left > 0 || left == -1) {
        const int ready = pollOne(watch.get(), POLLIN, left);
        if (ready == 0) {
            return Result::TimedOut;
        }
        if (ready < 0) {
            return resultFromErrno(errno, Result::PollFailed);
        }
        const ssize_t count = ::read(watch.get(), events.get(), kEventBufferSize);
        if (count < 0) {
            return resultFromErrno(errno, Result::ReadFailed);
        }
        if (eventsNameEntry(events.get(), static_cast<std::size_t>(count), wanted)) {
            return Result::OK;
        }
        if (timeoutMs != -1) {
            // Bounded by the time left, so other entries never extend the wait.
            left = static_cast<int>(clock.remaining(timeoutMs));
        }
    }
    return Result::TimedOut;
}

}  // namespace RawIO
