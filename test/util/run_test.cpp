// The narrated commands and file checks, byte for byte.
#include "util/run.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "sandbox/Sandbox.hpp"
#include "support/Capture.hpp"

namespace bw_selftest {
namespace {

using bw_test::capture;

std::string contentOf(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(RunCommand, NarratesTheCommandBeforeItsOutput) {
    bool ok = false;
    auto printed = capture([&] { ok = runCommand("/bin/sync"); });
    EXPECT_TRUE(ok);
    EXPECT_EQ("Running /bin/sync\n", printed.out);
    printed = capture([&] { ok = runCommand("echo from the command"); });
    EXPECT_TRUE(ok);
    EXPECT_EQ("Running echo from the command\nfrom the command\n", printed.out);
}

TEST(RunCommand, FailsForAnyStatusButANormalExitWithZero) {
    bool exitOne = true;
    bool notFound = true;
    bool killed = true;
    bool highStatus = true;
    const auto printed = capture([&] {
        exitOne = runCommand("exit 1");
        notFound = runCommand("/nonexistent/bw-no-such-command");
        killed = runCommand("kill -9 $$");
        highStatus = runCommand("exit 255");
    });
    EXPECT_FALSE(exitOne);
    EXPECT_FALSE(notFound);
    EXPECT_FALSE(killed);
    EXPECT_FALSE(highStatus);
    EXPECT_EQ(
        "Running exit 1\nRunning /nonexistent/bw-no-such-command\nRunning kill -9 $$\n"
        "Running exit 255\n",
        printed.out);
    EXPECT_NE(std::string::npos, printed.err.find("bw-no-such-command"));
}

class Narration : public bw_sim::SandboxTest {};

// Each run appends a line to /tmp/runs, so the runs can be counted.
constexpr const char* kAlwaysFails = "echo run >> /tmp/runs; exit 1";

TEST_F(Narration, EachRetryWaitsAndRunsAgain) {
    bw_sim::runInSandbox([] {
        bool ok = true;
        const auto printed = capture([&] { ok = runCommandWithRetries(kAlwaysFails, 0, 3); });
        EXPECT_FALSE(ok);
        EXPECT_EQ("run\nrun\nrun\nrun\n", contentOf("/tmp/runs"));
        const std::string running = std::string("Running ") + kAlwaysFails + "\n";
        const std::string waiting = "Waiting 0s to retry...\n\n";
        EXPECT_EQ(running + waiting + running + waiting + running + waiting + running, printed.out);
    });
}

TEST_F(Narration, NoRetriesMeansOneRunAndNoWaitingLine) {
    bw_sim::runInSandbox([] {
        bool ok = true;
        auto printed = capture([&] { ok = runCommandWithRetries(kAlwaysFails, 5, 0); });
        EXPECT_FALSE(ok);
        EXPECT_EQ(std::string("Running ") + kAlwaysFails + "\n", printed.out);
        printed = capture([&] { ok = runCommandWithRetries(kAlwaysFails, 5, -2); });
        EXPECT_FALSE(ok);
        EXPECT_EQ("run\nrun\n", contentOf("/tmp/runs"));
    });
}

TEST_F(Narration, ANegativeDelayIsNoPause) {
    bw_sim::runInSandbox([] {
        bool ok = true;
        const auto start = std::chrono::steady_clock::now();
        const auto printed = capture([&] { ok = runCommandWithRetries(kAlwaysFails, -1, 1); });
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
        EXPECT_FALSE(ok);
        const std::string running = std::string("Running ") + kAlwaysFails + "\n";
        EXPECT_EQ(running + "Waiting -1s to retry...\n\n" + running, printed.out);
    });
}

TEST_F(Narration, ASuccessEndsTheRetries) {
    bw_sim::runInSandbox([] {
        const char* failsOnce =
            "echo run >> /tmp/runs; test -e /tmp/flag || { touch /tmp/flag; exit 1; }";
        bool ok = false;
        const auto start = std::chrono::steady_clock::now();
        const auto printed = capture([&] { ok = runCommandWithRetries(failsOnce, 1, 3); });
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(ok);
        EXPECT_EQ("run\nrun\n", contentOf("/tmp/runs"));
        const std::string running = std::string("Running ") + failsOnce + "\n";
        EXPECT_EQ(running + "Waiting 1s to retry...\n\n" + running, printed.out);
        // One pause of a second, and no second pause.
        EXPECT_GE(took, std::chrono::milliseconds(990));
        EXPECT_LT(took, std::chrono::milliseconds(1900));
    });
}

TEST(RetryConstants, AreWhatEveryCallerUses) {
    EXPECT_EQ(5, kRetryDelaySeconds);
    EXPECT_EQ(3, kRetries);
}

TEST_F(Narration, CheckExistsAndCheckAbsentShareTheirLine) {
    bw_sim::runInSandbox([] {
        bool exists = true;
        bool absent = false;
        auto printed = capture([&] {
            exists = checkExists("/tmp/marker");
            absent = checkAbsent("/tmp/marker");
        });
        EXPECT_FALSE(exists);
        EXPECT_TRUE(absent);
        EXPECT_EQ("Checking /tmp/marker: Does not exist\nChecking /tmp/marker: Does not exist\n",
                  printed.out);
        bw_sim::sandbox::writeFile("/tmp/marker", "");
        printed = capture([&] {
            exists = checkExists("/tmp/marker");
            absent = checkAbsent("/tmp/marker");
        });
        EXPECT_TRUE(exists);
        EXPECT_FALSE(absent);
        EXPECT_EQ("Checking /tmp/marker: OK\nChecking /tmp/marker: OK\n", printed.out);
    });
}

TEST_F(Narration, AFailureWithoutATextLeavesThePathAlone) {
    bw_sim::runInSandbox([] {
        bw_sim::sandbox::writeFile("/tmp/file", "");
        bool exists = true;
        bool absent = true;
        bool removed = true;
        // ENOTDIR has no text: the line is just the path.
        const auto printed = capture([&] {
            exists = checkExists("/tmp/file/x");
            absent = checkAbsent("/tmp/file/x");
            removed = removeIfPresent("/tmp/file/x");
        });
        EXPECT_FALSE(exists);
        EXPECT_FALSE(absent);
        EXPECT_FALSE(removed);
        EXPECT_EQ("Checking /tmp/file/x\nChecking /tmp/file/x\nRemoving /tmp/file/x\n",
                  printed.out);
    });
}

TEST_F(Narration, RemoveIfPresentCountsAnAbsentFileAsRemoved) {
    bw_sim::runInSandbox([] {
        bw_sim::sandbox::writeFile("/tmp/marker", "");
        bool first = false;
        bool second = false;
        const auto printed = capture([&] {
            first = removeIfPresent("/tmp/marker");
            second = removeIfPresent("/tmp/marker");
        });
        EXPECT_TRUE(first);
        EXPECT_TRUE(second);
        EXPECT_NE(0, ::access("/tmp/marker", F_OK));
        EXPECT_EQ("Removing /tmp/marker: OK\nRemoving /tmp/marker: Does not exist\n", printed.out);
    });
}

// The narrated line must reach the log when the call returns, not when the buffer fills:
// the entry prints the marker's line and then waits, maybe for ever.
TEST_F(Narration, CheckAndRemoveLinesAreOutWhenTheCallReturns) {
    bw_sim::runInSandbox([] {
        int fds[2];
        ASSERT_EQ(0, ::pipe2(fds, O_NONBLOCK | O_CLOEXEC));
        const int savedOut = ::dup(1);
        std::fflush(stdout);
        ASSERT_EQ(0, std::setvbuf(stdout, nullptr, _IOFBF, 4096));
        ::dup2(fds[1], 1);
        const auto pending = [&] {
            char buffer[256];
            const ssize_t count = ::read(fds[0], buffer, sizeof buffer);
            return std::string(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
        };
        (void)checkExists("/tmp/marker");
        const std::string checked = pending();
        (void)checkAbsent("/tmp/marker");
        const std::string checkedAbsent = pending();
        (void)removeIfPresent("/tmp/marker");
        const std::string removed = pending();
        ::dup2(savedOut, 1);
        ::close(savedOut);
        ::close(fds[0]);
        ::close(fds[1]);
        EXPECT_EQ("Checking /tmp/marker: Does not exist\n", checked);
        EXPECT_EQ("Checking /tmp/marker: Does not exist\n", checkedAbsent);
        EXPECT_EQ("Removing /tmp/marker: Does not exist\n", removed);
    });
}

TEST_F(Narration, PermissionDeniedIsAFailureForEveryCheck) {
    BW_REQUIRE_ROOT();
    bw_sim::runInSandbox([] {
        bw_sim::sandbox::writeFile("/tmp/locked/marker", "");
        ASSERT_EQ(0, ::chmod("/tmp/locked", 0700));
        bw_sim::sandbox::writeFile("/tmp/readonly/marker", "");
        ASSERT_EQ(0, ::chmod("/tmp/readonly", 0755));
        bw_sim::runUnprivileged([] {
            bool exists = true;
            bool absent = true;
            bool removed = true;
            bool removedReadOnly = true;
            const auto printed = capture([&] {
                exists = checkExists("/tmp/locked/marker");
                absent = checkAbsent("/tmp/locked/marker");
                removed = removeIfPresent("/tmp/locked/marker");
                removedReadOnly = removeIfPresent("/tmp/readonly/marker");
            });
            EXPECT_FALSE(exists);
            EXPECT_FALSE(absent);
            EXPECT_FALSE(removed);
            EXPECT_FALSE(removedReadOnly);
            EXPECT_EQ(
                "Checking /tmp/locked/marker: Permission denied\n"
                "Checking /tmp/locked/marker: Permission denied\n"
                "Removing /tmp/locked/marker: Permission denied\n"
                "Removing /tmp/readonly/marker: Permission denied\n",
                printed.out);
        });
        EXPECT_EQ(0, ::access("/tmp/readonly/marker", F_OK));
    });
}

}  // namespace
}  // namespace bw_selftest
