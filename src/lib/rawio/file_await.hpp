// Waiting with inotify until a named entry appears in a directory.
#pragma once

#include <sys/inotify.h>

#include <cstddef>
#include <cstdint>

#include "lib/util/StringView.hpp"

namespace RawIO {

// Creations directly in the directory; IN_ONLYDIR makes the watch fail on anything else.
constexpr std::uint32_t kCreateWatchMask = IN_CREATE | IN_ONLYDIR;

// True when one of the events in the first `count` bytes of `events` names `name` (same
// length, same bytes). Events without a name are skipped; an event whose header or name
// would run past `count` ends the walk without a match.
bool eventsNameEntry(const void* events, std::size_t count, bw_selftest::TemporaryStringView name);

// "directory/name" in a fixed buffer; a path of 1024 characters or more is not stored.
class dir_path {
  public:
    static constexpr std::size_t kCapacity = 1024;

    // A slash goes between the two unless the directory already ends in one; an empty
    // directory therefore gives "/name".
    dir_path(bw_selftest::TemporaryStringView directory, bw_selftest::TemporaryStringView name);

    bool isValid() const { return valid; }
    // The stored path; "" when it did not fit.
    const char* c_str() const { return valid ? path : ""; }
    // Tested with the effective user and group; never true for a path that did not fit.
    bool exists() const;

  private:
    char path[kCapacity] = {};
    bool valid = false;
};

// True when the entry exists or is created within the timeout, false when the deadline
// passes. A negative timeout waits without limit; 0 tests once. Throws Exception for
// failures of the clock, inotify, poll and read. `directory` goes to inotify as it is.
bool awaitFileOrThrow(bw_selftest::TemporaryCStringView directory,
                      bw_selftest::TemporaryStringView name, std::int64_t timeoutMs);

}  // namespace RawIO
