// The RTC and the I2C adapter: registering the chip through new_device with the kernel's
// parsing, the clock appearing after its delay, and the states of since_epoch.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "HubTestSupport.hpp"
#include "hub/Hub.hpp"

namespace {

using bw_sim::Hub;
using bw_sim::RtcClock;
using bw_sim::RtcRegistration;
using bw_sim::Scenario;
using bw_sim_test::contentOf;
using bw_sim_test::exists;
using bw_sim_test::writeTo;
using std::chrono::milliseconds;

class Rtc : public ::testing::Test {
  protected:
    void SetUp() override { BW_REQUIRE_HUB(); }
};

constexpr milliseconds kLimit{20000};
const std::string kNewDevice = "/sys/class/i2c-adapter/i2c-1/new_device";
const std::string kDeleteDevice = "/sys/class/i2c-adapter/i2c-1/delete_device";
const std::string kSinceEpoch = "/sys/class/rtc/rtc0/since_epoch";

// Waits with inotify, as the program does, until /dev/rtc0 is created.
bool waitForRtcDevice(milliseconds limit) {
    const int fd = ::inotify_init1(IN_CLOEXEC);
    if (fd < 0 || ::inotify_add_watch(fd, "/dev", IN_CREATE) < 0) {
        return false;
    }
    const auto deadline = Hub::Clock::now() + limit;
    while (!exists("/dev/rtc0") && Hub::Clock::now() < deadline) {
        char events[4096];
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 10) > 0 && ::read(fd, events, sizeof events) < 0) {
            break;
        }
    }
    ::close(fd);
    return exists("/dev/rtc0");
}

TEST_F(Rtc, RegisteringTheChipMakesTheClockAppearAfterItsDelay) {
    const Scenario scenario =
        Scenario()
            .rtc(RtcClock::unregistered())
            .rtcRegistration(RtcRegistration::appearsAfter(milliseconds(150)));
    bw_sim::runInHub(
        scenario,
        [](Hub& hub) {
            EXPECT_FALSE(exists(kSinceEpoch));
            EXPECT_FALSE(exists("/dev/rtc0"));
            const auto written = Hub::Clock::now();
            ASSERT_EQ(0, writeTo(kNewDevice, "pcf8523 0x68"));
            EXPECT_FALSE(exists("/dev/rtc0"));
            ASSERT_TRUE(waitForRtcDevice(milliseconds(5000)));
            EXPECT_GE(Hub::Clock::now() - written, milliseconds(150));
            // A new chip holds no valid time: its clock cannot be read.
            EXPECT_EQ("<unreadable: 21>", contentOf(kSinceEpoch));
            ASSERT_EQ(1U, hub.i2cWrites().size());
            EXPECT_EQ("pcf8523 0x68", hub.i2cWrites()[0].data);
            EXPECT_EQ(0, hub.i2cWrites()[0].error);
            EXPECT_TRUE(hub.problems().empty());
        },
        kLimit);
}

TEST_F(Rtc, ARegisteredChipCanComeUpWithAValidClock) {
    const Scenario scenario = Scenario()
                                  .rtc(RtcClock::unregistered())
                                  .rtcRegistration(RtcRegistration::appearsAfter(
                                      milliseconds(10), RtcClock::valid("1551441600\n")));
    bw_sim::runInHub(
        scenario,
        [](Hub&) {
            ASSERT_EQ(0, writeTo(kNewDevice, "pcf8523 0x68\n"));
            ASSERT_TRUE(waitForRtcDevice(milliseconds(5000)));
            EXPECT_EQ("1551441600\n", contentOf(kSinceEpoch));
        },
        kLimit);
}

TEST_F(Rtc, NewDeviceParsesAndRefusesAsTheKernelDoes) {
    bw_sim::runInHub(
        Scenario().rtc(RtcClock::unregistered()),
        [](Hub& hub) {
            EXPECT_EQ(EINVAL, writeTo(kNewDevice, "pcf8523"));
            EXPECT_EQ(EINVAL, writeTo(kNewDevice, "pcf8523 0x68 extra"));
            EXPECT_EQ(EINVAL, writeTo(kNewDevice, "pcf8523 chip"));
            EXPECT_EQ(EINVAL, writeTo(kNewDevice, "a-name-of-twenty-chr 0x10"));
            EXPECT_EQ(EINVAL, writeTo(kNewDevice, "pcf8523 0x80"));
            EXPECT_EQ(0, writeTo(kNewDevice, "eeprom 80"));  // decimal 80 is 0x50
            EXPECT_EQ(EBUSY, writeTo(kNewDevice, "other 0x50"));
            EXPECT_EQ(ENOENT, writeTo(kDeleteDevice, "0x51"));
            EXPECT_EQ(0, writeTo(kDeleteDevice, "0x50\n"));
            EXPECT_EQ(0, writeTo(kNewDevice, "other 0x50"));
            EXPECT_EQ(EACCES, ::open(kNewDevice.c_str(), O_RDONLY) < 0 ? errno : 0);
            EXPECT_EQ(10U, hub.i2cWrites().size());
            std::this_thread::sleep_for(milliseconds(150));
            EXPECT_FALSE(exists("/dev/rtc0"));  // none of these was the clock
        },
        kLimit);
}

TEST_F(Rtc, AnAlreadyRegisteredClockIsBusy) {
    bw_sim::runInHub(
        Scenario(), [](Hub&) { EXPECT_EQ(EBUSY, writeTo(kNewDevice, "pcf8523 0x68")); }, kLimit);
}

TEST_F(Rtc, ARefusedOrUnansweredRegistrationMakesNoClock) {
    bw_sim::runInHub(
        Scenario().rtc(RtcClock::unregistered()).rtcRegistration(RtcRegistration::refused(EACCES)),
        [](Hub&) {
            EXPECT_EQ(EACCES, writeTo(kNewDevice, "pcf8523 0x68"));
            EXPECT_FALSE(waitForRtcDevice(milliseconds(300)));
        },
        kLimit);
    bw_sim::runInHub(
        Scenario().rtc(RtcClock::unregistered()).rtcRegistration(RtcRegistration::noDevice()),
        [](Hub&) {
            EXPECT_EQ(0, writeTo(kNewDevice, "pcf8523 0x68"));
            EXPECT_FALSE(waitForRtcDevice(milliseconds(300)));
            EXPECT_FALSE(exists(kSinceEpoch));
        },
        kLimit);
}

}  // namespace
