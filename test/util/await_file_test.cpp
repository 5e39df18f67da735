// The narrated wait for a directory entry.
#include "util/await_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "sandbox/Sandbox.hpp"
#include "support/Capture.hpp"
#include "support/Syscalls.hpp"

namespace bw_selftest {
namespace {

using bw_test::capture;
using Clock = std::chrono::steady_clock;

std::chrono::milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

class WaitForFile : public bw_sim::SandboxTest {};

TEST_F(WaitForFile, AnExistingEntryEndsInOkAtOnce) {
    bw_sim::runInSandbox([] {
        bw_sim::sandbox::writeFile("/tmp/dev/rtc0", "");
        bool ok = false;
        const auto start = Clock::now();
        const auto printed = capture([&] {
            ok = waitForFile("/tmp/dev", "rtc0");
            ok = waitForFile("/tmp/dev/", "rtc0") && ok;
        });
        EXPECT_LT(since(start), std::chrono::milliseconds(2000));
        EXPECT_TRUE(ok);
        // The slash is written whatever the directory ends with.
        EXPECT_EQ("Waiting for /tmp/dev/rtc0: OK\nWaiting for /tmp/dev//rtc0: OK\n", printed.out);
    });
}

TEST_F(WaitForFile, AMissingDirectoryFailsAtOnceWithoutFurtherAttempts) {
    bw_sim::runInSandbox([] {
        bool ok = true;
        const auto start = Clock::now();
        const auto printed = capture([&] { ok = waitForFile("/tmp/none", "rtc0"); });
        EXPECT_LT(since(start), std::chrono::milliseconds(2000));
        EXPECT_FALSE(ok);
        EXPECT_EQ("Waiting for /tmp/none/rtc0: Failed\n", printed.out);
    });
}

// Held where the failed first wait closes its inotify instance, the entry appears: a
// second attempt would find it, but there is none.
TEST_F(WaitForFile, AFailedWaitIsNotAttemptedAgain) {
    bw_sim::runInSandbox([] {
        const auto run = bw_test::runTrapped(
            [] {
                // Kept quiet; open and dup2 leave the first close to the wait itself.
                ::dup2(::open("/dev/null", O_WRONLY), 1);
                return waitForFile("/tmp/none", "rtc0") ? 1 : 0;
            },
            {SYS_close}, [] { bw_sim::sandbox::writeFile("/tmp/none/rtc0", ""); });
        EXPECT_TRUE(run.trapped);
        EXPECT_EQ(0, run.exitCode);
    });
}

// What a reader of the log sees while the wait is still going on.
TEST_F(WaitForFile, TheLineIsOutBeforeTheWaitBegins) {
    bw_sim::runInSandbox([] {
        ASSERT_EQ(0, ::mkdir("/tmp/dev", 0755));
        int fds[2];
        ASSERT_EQ(0, ::pipe2(fds, O_NONBLOCK));
        std::string seenDuringWait;
        std::string seenAfter;
        const auto takeOutput = [&](std::string& into) {
            char buffer[256];
            ssize_t count = 0;
            while ((count = ::read(fds[0], buffer, sizeof buffer)) > 0) {
                into.append(buffer, static_cast<std::size_t>(count));
            }
        };
        const auto run = bw_test::runTrapped(
            [&] {
                ::dup2(fds[1], 1);
                return waitForFileWithin("/tmp/dev", TemporaryCStringView("rtc0"), 1, 20) ? 1 : 0;
            },
            {
#ifdef SYS_poll
                SYS_poll,
#endif
                SYS_ppoll},
            [&] { takeOutput(seenDuringWait); });
        takeOutput(seenAfter);
        EXPECT_TRUE(run.trapped);
        EXPECT_EQ(0, run.exitCode);
        EXPECT_EQ("Waiting for /tmp/dev/rtc0", seenDuringWait);
        EXPECT_EQ(": Failed\n", seenAfter);
        ::close(fds[0]);
        ::close(fds[1]);
    });
}

TEST_F(WaitForFile, FailsWhenEveryAttemptRunsOut) {
    bw_sim::runInSandbox([] {
        ASSERT_EQ(0, ::mkdir("/tmp/dev", 0755));
        bool ok = true;
        const auto start = Clock::now();
        const auto printed = capture(
            [&] { ok = waitForFileWithin("/tmp/dev", TemporaryCStringView("rtc0"), 3, 50); });
        const auto took = since(start);
        EXPECT_FALSE(ok);
        EXPECT_EQ("Waiting for /tmp/dev/rtc0: Failed\n", printed.out);
        EXPECT_GE(took, std::chrono::milliseconds(145));
        EXPECT_LT(took, std::chrono::milliseconds(2000));
    });
}

TEST_F(WaitForFile, ALaterAttemptFindsALateEntry) {
    bw_sim::runInSandbox([] {
        ASSERT_EQ(0, ::mkdir("/tmp/dev", 0755));
        std::thread creator([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(120));
            bw_sim::sandbox::writeFile("/tmp/dev/ttyACM0", "");
        });
        bool ok = false;
        const auto printed = capture(
            [&] { ok = waitForFileWithin("/tmp/dev", TemporaryCStringView("ttyACM0"), 20, 50); });
        creator.join();
        EXPECT_TRUE(ok);
        EXPECT_EQ("Waiting for /tmp/dev/ttyACM0: OK\n", printed.out);
    });
}

TEST(WaitForFileConstants, AreThreeWaitsOfAMinute) {
    EXPECT_EQ(3, kFileWaitAttempts);
    EXPECT_EQ(60000, kFileWaitTimeoutMs);
}

}  // namespace
}  // namespace bw_selftest
