// The RTC test against the simulated clock and I2C adapter, and its time text.
#include "Tests/RTC.hpp"

#include <cerrno>
#include <fstream>
#include <iostream>

#include "HubCase.hpp"

namespace bw_selftest::Tests {
namespace {

using bw_sim::RtcClock;
using bw_sim::RtcRegistration;
using bw_sim::Scenario;

const std::string kRead = "Reading /sys/class/rtc/rtc0/since_epoch";
const std::string kSetUp = kRead +
                           ": Does not exist\nSetting up RTC: writing 'pcf8523 0x68'\n"
                           "to /sys/class/i2c-adapter/i2c-1/new_device";

std::string found(const std::string& time, const std::string& sinceEpoch) {
    return kRead + ": OK\nRTC found with time " + time + "\n(since_epoch = " + sinceEpoch + ")\n";
}

std::string retries(const std::string& readLine) {
    std::string text;
    for (int i = 1; i <= 3; ++i) {
        text += "\nRetry " + std::to_string(i) + " of 3 in 2s\n\n<pause 2>" + readLine;
    }
    return text;
}

TEST(RTC, BringsTheClockUpFromTheStateItFinds) {
    const Scenario unregistered = Scenario().rtc(RtcClock::unregistered());
    const std::string unreadable = kRead + ": Read failed\n";
    const std::string missing = kRead + ": Does not exist\n";
    const std::string valid = found("2019-03-01 12:00:00Z", "1551441600");
    // A short device wait; each pause shows in the transcript instead of being slept.
    expectHubCases(
        [] { return RTC::runWith(300, [](unsigned s) { std::cout << "<pause " << s << ">"; }); },
        {
            {"registered and valid", Scenario(), true, valid, {}, [] { return RTC("RTC").run(); }},
            {"registered during the wait",
             Scenario(unregistered)
                 .rtcRegistration(RtcRegistration::appearsAfter(std::chrono::milliseconds(100),
                                                                RtcClock::valid("1551441600"))),
             true, kSetUp + ": OK\nWaiting for /dev/rtc0: OK\n" + valid},
            {"registration refused",
             Scenario(unregistered).rtcRegistration(RtcRegistration::refused(EACCES)), false,
             kSetUp + ": Permission denied\n"},
            {"no chip answers: no second set-up",
             Scenario(unregistered).rtcRegistration(RtcRegistration::noDevice()), false,
             kSetUp + ": OK\nWaiting for /dev/rtc0: Timed out\n" + missing + retries(missing)},
            {"unreadable before and after hwclock",
             Scenario()
                 .rtc(RtcClock::invalid())
                 .program("hwclock", bw_sim::Outcome::succeeds().withoutEffect()),
             false,
             unreadable + "\nAttempting to write a time to the RTC\nRunning hwclock -w\n" +
                 unreadable + retries(unreadable),
             {"hwclock -w"}},
            {"letters after the digits", Scenario().rtc(RtcClock::valid("1551441600abc\n")), true,
             found("<unknown>", "1551441600abc")},
            {"empty time source", Scenario().rtc(RtcClock::valid("")), true,
             found("<unknown>", "")},
        });
}

// The time hwclock takes from the system clock differs at every run: the test reads it back.
TEST(RTC, HwclockMendsAClockWithoutATime) {
    BW_REQUIRE_HUB();
    bw_sim::runInHub(Scenario().rtc(RtcClock::invalid()), [](bw_sim::Hub& hub) {
        bool passed = false;
        const std::string out = bw_test::capture([&] { passed = RTC("RTC").run(); }).out;
        std::ifstream source("/sys/class/rtc/rtc0/since_epoch");
        std::string seconds;
        std::getline(source, seconds);
        std::string time;
        ASSERT_TRUE(formatSinceEpoch(seconds, time)) << seconds;
        EXPECT_EQ(kRead +
                      ": Read failed\n\nAttempting to write a time to the RTC\n"
                      "Running hwclock -w\n" +
                      found(time, seconds),
                  out);
        EXPECT_TRUE(passed);
        EXPECT_EQ(std::vector<std::string>{"hwclock -w"}, hub.commandLines());
    });
}

TEST(RTC, TimeTextIsTheWholeNumberInUtc) {
    const std::string kNotATime = "untouched";
    const std::pair<std::string, std::string> cases[] = {
        {"4102444800", "2100-01-01 00:00:00Z"},  // after 2038
        {" +0", "1970-01-01 00:00:00Z"},
        {"-1", "1969-12-31 23:59:59Z"},
        {"", kNotATime},
        {std::string("12\0003", 4), kNotATime},
        {"99999999999999999999", kNotATime},
        {"9223372036854775807", kNotATime},  // no year
    };
    for (const auto& [text, formatted] : cases) {
        std::string out = kNotATime;
        EXPECT_EQ(formatted != kNotATime, formatSinceEpoch(text, out)) << text;
        EXPECT_EQ(formatted, out) << text;
    }
}

}  // namespace
}  // namespace bw_selftest::Tests
