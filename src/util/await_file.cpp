// The narrated wait for an entry to appear in a directory.
#include "util/await_file.hpp"

#include <iostream>

#include "lib/rawio/file_await.hpp"

namespace bw_selftest {

bool waitForFile(TemporaryCStringView directory, TemporaryStringView name) {
    return waitForFileWithin(directory, name, kFileWaitAttempts, kFileWaitTimeoutMs);
}

bool waitForFileWithin(TemporaryCStringView directory, TemporaryStringView name, int attempts,
                       std::int64_t timeoutMs) {
    // The slash is always written, whatever the directory ends with.
    std::cout << "Waiting for " << directory << "/" << name << std::flush;
    try {
        for (int attempt = 0; attempt < attempts; ++attempt) {
            if (RawIO::awaitFileOrThrow(directory, name, timeoutMs)) {
                std::cout << ": OK" << std::endl;
                return true;
            }
        }
    } catch (...) {
        // A wait that cannot be made (inotify, poll, read or the clock failed) is not
        // tried again.
    }
    std::cout << ": Failed" << std::endl;
    return false;
}

}  // namespace bw_selftest
