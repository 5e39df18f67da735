// Shell commands and file checks that narrate each step on standard output.
#include "util/run.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "lib/rawio/RawIO.hpp"

namespace bw_selftest {

namespace {

// "Checking <path>" and its outcome on one line; the Result of the existence test.
RawIO::Result checkPath(const char* path) {
    std::cout << "Checking " << path;
    const RawIO::Result result = RawIO::fileExists(path);
    RawIO::printResult(result);
    std::cout.flush();
    return result;
}

}  // namespace

bool runCommand(const char* command) {
    // Flushed first, so that the line comes before whatever the command prints.
    std::cout << "Running " << command << std::endl;
    const int status = std::system(command);
    // -1 (no shell), a non-zero exit status and a terminating signal all fail.
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool runCommandWithRetries(const char* command, int delaySeconds, int retries) {
    if (runCommand(command)) {
        return true;
    }
    // A negative delay would be a pause of many years as an unsigned count.
    const unsigned pause = delaySeconds < 0 ? 0U : static_cast<unsigned>(delaySeconds);
    for (int retry = 0; retry < retries; ++retry) {
        std::cout << "Waiting " << delaySeconds << "s to retry..." << std::endl;
        ::sleep(pause);
        std::cout << std::endl;
        if (runCommand(command)) {
            return true;
        }
    }
    return false;
}

bool checkExists(const char* path) {
    return checkPath(path) == RawIO::Result::OK;
}

bool checkAbsent(const char* path) {
    return checkPath(path) == RawIO::Result::DoesNotExist;
}

bool removeIfPresent(const char* path) {
    std::cout << "Removing " << path;
    const RawIO::Result result = RawIO::removeFile(path);
    RawIO::printResult(result);
    std::cout.flush();
    return result == RawIO::Result::OK || result == RawIO::Result::DoesNotExist;
}

}  // namespace bw_selftest
