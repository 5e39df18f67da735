// The RTC test against the simulated clock and I2C adapter, and the time text.
#include "Tests/RTC.hpp"

#include <cerrno>
#include <iostream>

#include "HubCase.hpp"

namespace bw_selftest::Tests {
namespace {

using bw_sim::Outcome;
using bw_sim::RtcClock;
using bw_sim::RtcRegistration;
using bw_sim::Scenario;
using std::chrono::milliseconds;

const std::string kReading = "Reading /sys/class/rtc/rtc0/since_epoch";
const std::string kSetUp = kReading +
                           ": Does not exist\nSetting up RTC: writing 'pcf8523 0x68'\n"
                           "to /sys/class/i2c-adapter/i2c-1/new_device";

std::string found(const std::string& time, const std::string& sinceEpoch) {
    return "RTC found with time " + time + "\n(since_epoch = " + sinceEpoch + ")\n";
}

// Short device waits; each pause shows in the transcript instead of being slept.
std::function<bool()> rtcWithin(int deviceWaitMs) {
    return [deviceWaitMs] {
        return RTC::runWith(deviceWaitMs,
                            [](unsigned seconds) { std::cout << "<pause " << seconds << ">"; });
    };
}

std::string retries(const std::string& result) {
    std::string text;
    for (int i = 1; i <= 3; ++i) {
        text += "\nRetry " + std::to_string(i) + " of 3 in 2s\n\n<pause 2>" + kReading + result;
    }
    return text;
}

TEST(RTC, BringsTheClockUpFromTheStateItFinds) {
    const std::string valid = kReading + ": OK\n" + found("2019-03-01 12:00:00Z", "1551441600");
    const std::string unreadable = kReading + ": Read failed\n";
    expectHubCases({
        {"registered and valid", Scenario(), [] { return RTC("RTC").run(); }, true, valid, {}},
        {"registered during the wait",
         Scenario()
             .rtc(RtcClock::unregistered())
             .rtcRegistration(
                 RtcRegistration::appearsAfter(milliseconds(200), RtcClock::valid("1551441600"))),
         rtcWithin(5000),
         true,
         kSetUp + ": OK\nWaiting for /dev/rtc0: OK\n" + valid,
         {}},
        {"registration refused",
         Scenario().rtc(RtcClock::unregistered()).rtcRegistration(RtcRegistration::refused(EACCES)),
         rtcWithin(5000),
         false,
         kSetUp + ": Permission denied\n",
         {}},
        {"no chip answers: no second set-up",
         Scenario().rtc(RtcClock::unregistered()).rtcRegistration(RtcRegistration::noDevice()),
         rtcWithin(300),
         false,
         kSetUp + ": OK\nWaiting for /dev/rtc0: Timed out\n" + kReading + ": Does not exist\n" +
             retries(": Does not exist\n"),
         {}},
        {"unreadable before and after hwclock",
         Scenario()
             .rtc(RtcClock::invalid())
             .program("hwclock", Outcome::succeeds().withoutEffect()),
         rtcWithin(300),
         false,
         unreadable + "\nAttempting to write a time to the RTC\nRunning hwclock -w\n" + unreadable +
             retries(": Read failed\n"),
         {"hwclock -w"}},
        {"letters after the digits",
         Scenario().rtc(RtcClock::valid("1551441600abc\n")),
         rtcWithin(300),
         true,
         kReading + ": OK\n" + found("<unknown>", "1551441600abc"),
         {}},
        {"empty time source",
         Scenario().rtc(RtcClock::valid("")),
         rtcWithin(300),
         true,
         kReading + ": OK\n" + found("<unknown>", ""),
         {}},
    });
}

TEST(RTC, TimeTextIsTheWholeNumberInUtc) {
    const struct {
        std::string text;
        const char* formatted;  // null: not a time
    } cases[] = {
        {"1551441600", "2019-03-01 12:00:00Z"},
        {"4102444800", "2100-01-01 00:00:00Z"},
        {" +0", "1970-01-01 00:00:00Z"},
        {"-1", "1969-12-31 23:59:59Z"},
        {"", nullptr},
        {"12 ", nullptr},
        {std::string("12\0"
                     "3",
                     4),
         nullptr},
        {"0x10", nullptr},
        {"99999999999999999999", nullptr},  // beyond any integer
        {"9223372036854775807", nullptr},   // beyond any broken-down year
    };
    for (const auto& c : cases) {
        std::string out = "untouched";
        EXPECT_EQ(c.formatted != nullptr, formatSinceEpoch(c.text, out)) << c.text;
        EXPECT_EQ(c.formatted != nullptr ? c.formatted : "untouched", out) << c.text;
    }
}

}  // namespace
}  // namespace bw_selftest::Tests
