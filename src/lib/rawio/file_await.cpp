// Waiting with inotify until a named entry appears in a directory.
#include "lib/rawio/file_await.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>

#include "lib/rawio/Exception.hpp"
#include "lib/rawio/FileDescriptor.hpp"
#include "lib/rawio/TimeoutClock.hpp"
#include "lib/rawio/with_exception.hpp"

namespace RawIO {

namespace {

constexpr std::size_t kEventBytes = 1024;
constexpr std::int64_t kLongestPollMs = INT_MAX;

FileDescriptor watchDirectory(const char* directory) {
    FileDescriptor watch(::inotify_init());
    if (!watch) {
        throw Exception(errno, "IO-Error on inotify_init()");
    }
    if (::inotify_add_watch(watch.get(), directory, kCreateWatchMask) < 0) {
        throw Exception(errno, "IO-Error on inotify_add_watch()");
    }
    return watch;
}

// One poll (-1: without limit) and one read of events; true when they name the entry.
bool waitOnce(int watch, bw_selftest::TemporaryStringView name, int waitMs) {
    pollfd entry{watch, POLLIN, 0};
    const int ready = ::poll(&entry, 1, waitMs);
    if (ready < 0) {
        throw Exception(errno, "IO-Error on poll()");
    }
    if (ready == 0) {
        return false;
    }
    alignas(inotify_event) char events[kEventBytes];
    const ssize_t count = readOrThrow(watch, events, sizeof events);
    return eventsNameEntry(events, static_cast<std::size_t>(count), name);
}

int pollTime(std::int64_t ms) {
    return static_cast<int>(ms > kLongestPollMs ? kLongestPollMs : ms);
}

bool awaitWithoutDeadline(bw_selftest::TemporaryCStringView directory,
                          bw_selftest::TemporaryStringView name) {
    const dir_path path(directory, name);
    if (path.exists()) {
        return true;
    }
    const FileDescriptor watch = watchDirectory(directory.data());
    if (path.exists()) {
        return true;
    }
    while (!waitOnce(watch.get(), name, -1)) {
    }
    return true;
}

}  // namespace

bool eventsNameEntry(const void* events, std::size_t count, bw_selftest::TemporaryStringView name) {
    const auto* bytes = static_cast<const char*>(events);
    constexpr std::size_t kHeader = sizeof(inotify_event);
    std::size_t offset = 0;
    while (count - offset >= kHeader) {
        std::uint32_t nameLength = 0;
        std::memcpy(&nameLength, bytes + offset + offsetof(inotify_event, len), sizeof nameLength);
        const std::size_t nameStart = offset + kHeader;
        if (nameLength > count - nameStart) {
            return false;
        }
        const char* eventName = bytes + nameStart;
        // The name is NUL-padded, but strnlen keeps to it even where no NUL follows.
        if (nameLength != 0 && ::strnlen(eventName, nameLength) == name.size() &&
            (name.size() == 0 || std::memcmp(eventName, name.data(), name.size()) == 0)) {
            return true;
        }
        offset = nameStart + nameLength;
    }
    return false;
}

dir_path::dir_path(bw_selftest::TemporaryStringView directory,
                   bw_selftest::TemporaryStringView name) {
    const bool slash = directory.empty() || directory[directory.size() - 1] != '/';
    const std::size_t prefix = directory.size() + (slash ? 1 : 0);
    if (directory.size() >= kCapacity || prefix >= kCapacity || name.size() >= kCapacity - prefix) {
        return;
    }
    if (!directory.empty()) {
        std::memcpy(path, directory.data(), directory.size());
    }
    if (slash) {
        path[prefix - 1] = '/';
    }
    if (!name.empty()) {
        std::memcpy(path + prefix, name.data(), name.size());
    }
    path[prefix + name.size()] = '\0';
    valid = true;
}

bool dir_path::exists() const {
    return valid && ::euidaccess(path, F_OK) == 0;
}

bool awaitFileOrThrow(bw_selftest::TemporaryCStringView directory,
                      bw_selftest::TemporaryStringView name, std::int64_t timeoutMs) {
    if (timeoutMs < 0) {
        return awaitWithoutDeadline(directory, name);
    }
    const dir_path path(directory, name);
    if (path.exists()) {
        return true;
    }
    if (timeoutMs == 0) {
        return false;
    }
    const TimeoutClock clock;
    if (!clock.isValid()) {
        throw Exception("Error getting monotonic clock");
    }
    const FileDescriptor watch = watchDirectory(directory.data());
    // The entry may have appeared between the first test and the start of the watch.
    if (path.exists()) {
        return true;
    }
    std::int64_t waitMs = timeoutMs;
    for (;;) {
        if (waitOnce(watch.get(), name, pollTime(waitMs))) {
            return true;
        }
        // Bounded by the time left, so other entries never extend the wait.
        waitMs = clock.remaining(timeoutMs);
        if (waitMs == 0) {
            return false;
        }
    }
}

}  // namespace RawIO
