// The RTC test: registration, setting the clock, retries and the report.
#include "Tests/RTC.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <ctime>
#include <iostream>

#include "util/StringUtil.hpp"

namespace bw_selftest {
namespace Tests {

// The hubs outlive 2038; a 32-bit time_t would show every later time as "<unknown>".
static_assert(sizeof(std::time_t) >= 8, "build with a 64-bit time_t (-D_TIME_BITS=64)");

namespace {

using RawIO::Result;

constexpr const char* kSinceEpochPath = "/sys/class/rtc/rtc0/since_epoch";
constexpr std::size_t kMaxSinceEpochBytes = 32;
constexpr const char* kNewDevicePath = "/sys/class/i2c-adapter/i2c-1/new_device";
constexpr const char* kChip = "pcf8523 0x68";
constexpr const char* kSetClockCommand = "hwclock -w";
constexpr useconds_t kAfterDeviceWaitUs = 250000;
constexpr useconds_t kAfterSetClockUs = 2500;
constexpr std::size_t kTimeTextSize = 128;

void sleepSeconds(unsigned seconds) {
    ::sleep(seconds);
}

void endResultLine(Result result) {
    RawIO::printResult(result);
    std::cout.flush();
}

}  // namespace

Result readSinceEpoch(std::string& out) {
    std::cout << "Reading " << kSinceEpochPath << std::flush;
    const Result result = RawIO::readFile(kSinceEpochPath, out, kMaxSinceEpochBytes);
    endResultLine(result);
    if (result == Result::OK) {
        trimRight(out);
    }
    return result;
}

bool formatSinceEpoch(const std::string& text, std::string& out) {
    const char* const begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long seconds = std::strtoll(begin, &end, 10);
    // Nothing converted, or anything left over (a NUL inside the text included), is no number.
    if (errno != 0 || end == begin || end != begin + text.size()) {
        return false;
    }
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm broken{};
    if (::gmtime_r(&when, &broken) == nullptr) {
        return false;
    }
    char formatted[kTimeTextSize];
    const std::size_t length =
        std::strftime(formatted, sizeof formatted, "%Y-%m-%d %H:%M:%SZ", &broken);
    if (length == 0) {
        return false;
    }
    out.assign(formatted, length);
    return true;
}

bool RTC::run() {
    return runWith(kDeviceWaitMs, &sleepSeconds);
}

bool RTC::runWith(int deviceWaitMs, const Pause& pause) {
    std::string sinceEpoch;
    Result result = readSinceEpoch(sinceEpoch);
    if (result == Result::DoesNotExist) {
        // The kernel does not know the chip yet.
        std::cout << "Setting up RTC: writing '" << kChip << "'\nto " << kNewDevicePath
                  << std::flush;
        const Result registered = RawIO::writeFile(kNewDevicePath, kChip);
        endResultLine(registered);
        if (registered != Result::OK) {
            return false;
        }
        std::cout << "Waiting for /dev/rtc0" << std::flush;
        // A device that never comes shows as timed out; the reads below then decide.
        endResultLine(RawIO::awaitFile("rtc0", "/dev", deviceWaitMs));
        ::usleep(kAfterDeviceWaitUs);
        result = readSinceEpoch(sinceEpoch);
    }
    if (result == Result::ReadFailed) {
        // The chip holds no valid time: give it the system's.
        std::cout << "\nAttempting to write a time to the RTC" << std::endl;
        std::cout << "Running " << kSetClockCommand << std::endl;
        const int status = std::system(kSetClockCommand);
        (void)status;  // the next read tells whether it worked
        ::usleep(kAfterSetClockUs);
        result = readSinceEpoch(sinceEpoch);
    }
    for (unsigned retry = 1; result != Result::OK; ++retry) {
        if (retry > kRetries) {
            return false;
        }
        std::cout << "\nRetry " << retry << " of " << kRetries << " in " << kRetryPauseSeconds
                  << "s\n"
                  << std::endl;
        pause(kRetryPauseSeconds);
        result = readSinceEpoch(sinceEpoch);
    }
    std::string timeText = "<unknown>";
    if (!sinceEpoch.empty()) {
        (void)formatSinceEpoch(sinceEpoch, timeText);  // a text that does not parse stays unknown
    }
    std::cout << "RTC found with time " << timeText << std::endl;
    std::cout << "(since_epoch = " << sinceEpoch << ")" << std::endl;
    return true;
}

}  // namespace Tests
}  // namespace bw_selftest
