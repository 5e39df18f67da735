// The fake sysfs GPIO directory must answer as the kernel does, byte for byte and errno for
// errno, and log every write.
#include "hub/GpioFs.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "HubTestSupport.hpp"
#include "hub/FuseMount.hpp"
#include "sandbox/Sandbox.hpp"

namespace {

namespace sandbox = bw_sim::sandbox;
using bw_sim::GpioFs;
using bw_sim::GpioOptions;
using bw_sim_test::exists;
using bw_sim_test::writeTo;
using std::chrono::milliseconds;

class Gpio : public ::testing::Test {
  protected:
    void SetUp() override {
        BW_REQUIRE_SANDBOX();
        if (!bw_sim::fuseUnavailableReason().empty()) {
            GTEST_SKIP() << bw_sim::fuseUnavailableReason();
        }
    }
};

// Runs `body` in a sandbox whose /sys/class/gpio is served by a GpioFs.
void withGpio(const GpioOptions& options, const std::function<void(GpioFs&)>& body) {
    bw_sim::runInSandbox(
        [&] {
            sandbox::freshDirectory("/sys/class");
            ASSERT_EQ(0, ::mkdir("/sys/class/gpio", 0755));
            GpioFs gpio(options, GpioFs::Clock::now());
            bw_sim::FuseMount mount("/sys/class/gpio", "bw-sim-gpio", gpio);
            body(gpio);
        },
        milliseconds(20000));
}


std::string readFrom(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return "<open: " + std::to_string(errno) + ">";
    }
    char buffer[64];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    return n < 0 ? "<read: " + std::to_string(errno) + ">"
                 : std::string(buffer, static_cast<std::size_t>(n));
}

const std::string kGpio = "/sys/class/gpio";

TEST_F(Gpio, ExportMakesAnInputLineBeforeTheWriteReturns) {
    withGpio({}, [](GpioFs& gpio) {
        EXPECT_TRUE(exists(kGpio + "/export"));
        EXPECT_FALSE(exists(kGpio + "/gpio11"));
        ASSERT_EQ(0, writeTo(kGpio + "/export", "11"));
        EXPECT_EQ("in\n", readFrom(kGpio + "/gpio11/direction"));
        EXPECT_EQ("0\n", readFrom(kGpio + "/gpio11/value"));
        EXPECT_EQ("none\n", readFrom(kGpio + "/gpio11/edge"));
        EXPECT_TRUE(gpio.line(11).exported);
        EXPECT_EQ("in", gpio.line(11).direction);
        EXPECT_FALSE(gpio.line(12).exported);
    });
}

TEST_F(Gpio, ExportAndUnexportFailAsTheKernelDoes) {
    withGpio({}, [](GpioFs&) {
        ASSERT_EQ(0, writeTo(kGpio + "/export", "11\n"));
        EXPECT_EQ(EBUSY, writeTo(kGpio + "/export", "11"));
        EXPECT_EQ(EINVAL, writeTo(kGpio + "/export", "eleven"));
        EXPECT_EQ(EINVAL, writeTo(kGpio + "/export", " 12"));
        EXPECT_EQ(EINVAL, writeTo(kGpio + "/export", "54"));
        EXPECT_EQ(EINVAL, writeTo(kGpio + "/unexport", "12"));
        EXPECT_EQ(0, writeTo(kGpio + "/unexport", "11"));
        EXPECT_FALSE(exists(kGpio + "/gpio11"));
        EXPECT_EQ(EINVAL, writeTo(kGpio + "/unexport", "11"));
        EXPECT_EQ(0, writeTo(kGpio + "/export", "11"));
    });
}

TEST_F(Gpio, ExportFilesTakeWritesOnlyAndNothingCanBeCreated) {
    withGpio({}, [](GpioFs&) {
        EXPECT_EQ(EACCES, ::open((kGpio + "/export").c_str(), O_RDONLY) < 0 ? errno : 0);
        const int fd = ::open((kGpio + "/gpio5").c_str(), O_WRONLY | O_CREAT, 0644);
        EXPECT_EQ(EACCES, fd < 0 ? errno : 0);
        EXPECT_EQ(ENOENT, writeTo(kGpio + "/gpio5/value", "1"));
    });
}

TEST_F(Gpio, DirectionTakesOnlyTheKernelsWords) {
    withGpio({}, [](GpioFs& gpio) {
        ASSERT_EQ(0, writeTo(kGpio + "/export", "13"));
        const std::string direction = kGpio + "/gpio13/direction";
        EXPECT_EQ(0, writeTo(direction, "high"));
        EXPECT_EQ("out\n", readFrom(direction));
        EXPECT_EQ("1\n", readFrom(kGpio + "/gpio13/value"));
        EXPECT_EQ(0, writeTo(direction, "out"));
        EXPECT_EQ("0\n", readFrom(kGpio + "/gpio13/value"));
        EXPECT_EQ(0, writeTo(direction, "in\n"));
        EXPECT_EQ("in\n", readFrom(direction));
        EXPECT_EQ(0, writeTo(direction, "low"));
        EXPECT_EQ("out", gpio.line(13).direction);
        for (const char* wrong : {"OUT", "output", "out\n\n", " in", "in "}) {
            EXPECT_EQ(EINVAL, writeTo(direction, wrong)) << '"' << wrong << '"';
        }
        EXPECT_EQ(0, writeTo(direction, ""));  // an empty write never reaches the store
        EXPECT_EQ("out\n", readFrom(direction));
    });
}

TEST_F(Gpio, ValueIsWrittenAtAnyOffsetButNotToAnInput) {
    withGpio({}, [](GpioFs& gpio) {
        ASSERT_EQ(0, writeTo(kGpio + "/export", "12"));
        EXPECT_EQ(EPERM, writeTo(kGpio + "/gpio12/value", "1"));
        ASSERT_EQ(0, writeTo(kGpio + "/gpio12/direction", "out"));
        const int fd = ::open((kGpio + "/gpio12/value").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(1, ::write(fd, "1", 1));
        EXPECT_EQ(1, gpio.line(12).value);
        EXPECT_EQ(1, ::write(fd, "0", 1));  // now at offset 1, no seek in between
        EXPECT_EQ(0, gpio.line(12).value);
        EXPECT_EQ(1, ::pwrite(fd, "1", 1, 4000));
        EXPECT_EQ(1, gpio.line(12).value);
        EXPECT_EQ(-1, ::write(fd, "x", 1));
        EXPECT_EQ(EINVAL, errno);
        char level[4] = {};
        EXPECT_EQ(2, ::pread(fd, level, sizeof level, 0));
        EXPECT_STREQ("1\n", level);
        ::close(fd);
        gpio.setInputLevel(12, 1);
        ASSERT_EQ(0, writeTo(kGpio + "/gpio12/direction", "in"));
        EXPECT_EQ("1\n", readFrom(kGpio + "/gpio12/value"));
    });
}

TEST_F(Gpio, EdgeTakesNoneRisingFallingOrBoth) {
    withGpio({}, [](GpioFs& gpio) {
        ASSERT_EQ(0, writeTo(kGpio + "/export", "4"));
        for (const char* edge : {"rising", "falling", "both", "none\n"}) {
            EXPECT_EQ(0, writeTo(kGpio + "/gpio4/edge", edge)) << edge;
        }
        EXPECT_EQ(EINVAL, writeTo(kGpio + "/gpio4/edge", "up"));
        EXPECT_EQ("none", gpio.line(4).edge);
        EXPECT_EQ(0, writeTo(kGpio + "/gpio4/edge", "both"));
        EXPECT_EQ("both\n", readFrom(kGpio + "/gpio4/edge"));
    });
}

TEST_F(Gpio, FilesOpenedBeforeAnUnexportStayDead) {
    withGpio({}, [](GpioFs&) {
        ASSERT_EQ(0, writeTo(kGpio + "/export", "11"));
        ASSERT_EQ(0, writeTo(kGpio + "/gpio11/direction", "out"));
        const int fd = ::open((kGpio + "/gpio11/value").c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(0, writeTo(kGpio + "/unexport", "11"));
        ASSERT_EQ(0, writeTo(kGpio + "/export", "11"));
        ASSERT_EQ(0, writeTo(kGpio + "/gpio11/direction", "out"));
        EXPECT_EQ(-1, ::write(fd, "1", 1));
        EXPECT_EQ(ENODEV, errno);
        ::close(fd);
    });
}

TEST_F(Gpio, TimelineHoldsEveryWriteInOrderWithItsOutcome) {
    withGpio({}, [](GpioFs& gpio) {
        const auto before = gpio.timeline();
        ASSERT_EQ(0, writeTo(kGpio + "/export", "11"));
        EXPECT_EQ(EBUSY, writeTo(kGpio + "/export", "11"));
        ASSERT_EQ(0, writeTo(kGpio + "/gpio11/direction", "out"));
        std::this_thread::sleep_for(milliseconds(20));
        ASSERT_EQ(0, writeTo(kGpio + "/gpio11/value", "1"));
        const auto timeline = gpio.timeline();
        EXPECT_TRUE(before.empty());
        ASSERT_EQ(4U, timeline.size());
        EXPECT_EQ("export", timeline[0].file);
        EXPECT_EQ("11", timeline[0].data);
        EXPECT_EQ(0, timeline[0].error);
        EXPECT_EQ(EBUSY, timeline[1].error);
        EXPECT_EQ("gpio11/direction", timeline[2].file);
        EXPECT_EQ("out", timeline[2].data);
        EXPECT_EQ("gpio11/value", timeline[3].file);
        EXPECT_EQ("1", timeline[3].data);
        EXPECT_LE(timeline[0].at, timeline[1].at);
        EXPECT_GE(timeline[3].at - timeline[2].at, milliseconds(20));
    });
}

TEST_F(Gpio, DirectionIsDeniedForAWhileAfterAnExport) {
    GpioOptions options;
    options.directionDeniedAfterExport = milliseconds(150);
    options.exported[13] = {true, 1};
    withGpio(options, [](GpioFs&) {
        EXPECT_EQ(0, writeTo(kGpio + "/gpio13/direction", "low"));  // exported long ago
        const auto start = GpioFs::Clock::now();
        ASSERT_EQ(0, writeTo(kGpio + "/export", "11"));
        EXPECT_EQ("in\n", readFrom(kGpio + "/gpio11/direction"));
        int attempts = 0;
        while (writeTo(kGpio + "/gpio11/direction", "out") == EACCES) {
            ++attempts;
            std::this_thread::sleep_for(milliseconds(7));
        }
        EXPECT_GE(GpioFs::Clock::now() - start, milliseconds(150));
        EXPECT_GE(attempts, 5);
        EXPECT_EQ("out\n", readFrom(kGpio + "/gpio11/direction"));
    });
}

TEST_F(Gpio, ScriptedFailuresOfExportAndOfTheLineFiles) {
    using Operation = bw_sim::GpioFault::Operation;
    GpioOptions options;
    options.exportErrors[12] = EIO;
    options.faults = {{13, "value", Operation::write, EIO},
                      {13, "edge", Operation::open, EACCES},
                      {14, "direction", Operation::read, EIO},
                      {14, "direction", Operation::write, ENOSPC}};
    withGpio(options, [](GpioFs& gpio) {
        EXPECT_EQ(EIO, writeTo(kGpio + "/export", "12"));
        EXPECT_FALSE(exists(kGpio + "/gpio12"));
        ASSERT_EQ(0, writeTo(kGpio + "/export", "13"));
        ASSERT_EQ(0, writeTo(kGpio + "/gpio13/direction", "out"));
        EXPECT_EQ(EIO, writeTo(kGpio + "/gpio13/value", "1"));
        EXPECT_EQ(0, gpio.line(13).value);
        EXPECT_EQ(EACCES, writeTo(kGpio + "/gpio13/edge", "both"));
        EXPECT_EQ("0\n", readFrom(kGpio + "/gpio13/value"));
        ASSERT_EQ(0, writeTo(kGpio + "/export", "14"));
        EXPECT_EQ("<read: 5>", readFrom(kGpio + "/gpio14/direction"));
        EXPECT_EQ(ENOSPC, writeTo(kGpio + "/gpio14/direction", "out"));
        EXPECT_EQ("in", gpio.line(14).direction);
    });
}

// Taking the file system down while a file on it is still open must neither hang nor
// leave the mount behind; the open file just stops working.
TEST_F(Gpio, UnmountingWithAFileStillOpenEndsCleanly) {
    bw_sim::runInSandbox(
        [] {
            sandbox::freshDirectory("/sys/class");
            ASSERT_EQ(0, ::mkdir("/sys/class/gpio", 0755));
            GpioFs gpio({}, GpioFs::Clock::now());
            int fd = -1;
            {
                bw_sim::FuseMount mount("/sys/class/gpio", "bw-sim-gpio", gpio);
                ASSERT_EQ(0, writeTo(kGpio + "/export", "11"));
                fd = ::open((kGpio + "/gpio11/value").c_str(), O_RDONLY | O_CLOEXEC);
                ASSERT_GE(fd, 0);
            }
            char level[4];
            EXPECT_EQ(-1, ::read(fd, level, sizeof level));
            EXPECT_EQ(ENOTCONN, errno);
            ::close(fd);
            EXPECT_FALSE(exists(kGpio + "/export"));
        },
        milliseconds(10000));
}

}  // namespace
