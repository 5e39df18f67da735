// The narrated wait for an entry to appear in a directory.
#pragma once

#include <cstdint>

#include "lib/util/StringView.hpp"

namespace bw_selftest {

// Every wait for a device entry: up to 3 waits of a minute each.
constexpr int kFileWaitAttempts = 3;
constexpr std::int64_t kFileWaitTimeoutMs = 60000;

// "Waiting for <directory>/<name>", then ": OK" once the entry exists, or ": Failed" when
// every wait has run out or the wait cannot be made. `directory` must be NUL-terminated.
[[nodiscard]] bool waitForFile(TemporaryCStringView directory, TemporaryStringView name);
// For a name written as a literal.
[[nodiscard]] inline bool waitForFile(TemporaryCStringView directory, const char* name) {
    return waitForFile(directory, TemporaryCStringView(name));
}

// waitForFile with other bounds, so that tests need not take minutes.
[[nodiscard]] bool waitForFileWithin(TemporaryCStringView directory, TemporaryStringView name,
                                     int attempts, std::int64_t timeoutMs);

}  // namespace bw_selftest
