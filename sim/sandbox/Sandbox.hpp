// Runs a test body in a forked child inside a private mount namespace, where tmpfs, overlay
// and bind mounts stand in for the hub's fixed files. Nothing reaches the real system.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

namespace bw_sim {

// Empty when sandboxes can be made here; otherwise a one-line reason.
const std::string& sandboxUnavailableReason();

// Skips the current test, with the reason, where no sandbox can be made.
#define BW_REQUIRE_SANDBOX()                                                       \
    do {                                                                           \
        const std::string& bwSandboxReason = ::bw_sim::sandboxUnavailableReason(); \
        if (!bwSandboxReason.empty()) {                                            \
            GTEST_SKIP() << bwSandboxReason;                                       \
        }                                                                          \
    } while (0)

// Skips the current test where it does not run as root (it must switch uids).
#define BW_REQUIRE_ROOT()                                          \
    do {                                                           \
        if (::geteuid() != 0) {                                    \
            GTEST_SKIP() << "needs root to switch to another uid"; \
        }                                                          \
    } while (0)

// Base of the tests whose bodies run in sandboxes: skipped, with the reason, where none can
// be made.
class SandboxTest : public ::testing::Test {
  protected:
    void SetUp() override { BW_REQUIRE_SANDBOX(); }
};

constexpr std::chrono::milliseconds kDefaultChildLimit{60000};

// Runs `body` in a child in a new, private mount namespace, where every change made through
// the sandbox functions below stays (writing under /tmp overlays it, for instance). Assertion
// failures in the child are reported in the calling test with their file, line and text;
// a crash, a hang past `limit` (the child's process group is killed) or an escaping
// exception fail it too. Returns when the child has been reaped.
void runInSandbox(const std::function<void()>& body,
                  std::chrono::milliseconds limit = kDefaultChildLimit);

// Runs `body` in a child under the unprivileged uid and gid of nobody; needs root (see
// BW_REQUIRE_ROOT). Failures are reported as for runInSandbox.
void runUnprivileged(const std::function<void()>& body,
                     std::chrono::milliseconds limit = kDefaultChildLimit);

// Turns the calling process into a sandbox: a new private mount namespace (inside a new
// user namespace when not root). Empty on success, else why.
std::string enterSandbox();

// True in a process that entered a sandbox (the child of runInSandbox, or after
// enterSandbox): only there may the real system's paths be covered.
bool insideSandbox();

// Inside a sandbox only.
namespace sandbox {

// Makes `directory` (and any missing ancestors) exist and be writable: the nearest existing
// ancestor gets an overlay whose upper layer lives in the sandbox's tmpfs.
void makeDirectory(const std::string& directory);
// An empty tmpfs at `directory`, created first if missing: whatever the host has there is
// hidden.
void freshDirectory(const std::string& directory, mode_t mode = 0755);
// A tmpfs at /dev with the host's null, zero, full, urandom and tty bound in, and a private
// devpts instance at /dev/pts with /dev/ptmx pointing into it, so pseudo-terminals work
// and other device entries can be made freely.
void freshDev();
// Creates or replaces `path` with `content`; parent directories are made as needed.
void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644);
// Binds the host file `source` over `target` (created as an empty file first if missing).
void bindFile(const std::string& source, const std::string& target);
// Hides `path` under an empty, read-only tmpfs (for a directory) or removes it from a
// writable directory.
void removePath(const std::string& path);

}  // namespace sandbox

}  // namespace bw_sim
