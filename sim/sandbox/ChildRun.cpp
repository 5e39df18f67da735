// Test bodies in forked children, with their failures, crashes and hangs carried home.
#include "sandbox/ChildRun.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

namespace bw_sim::detail {

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

namespace {

// The one failure record the child sends home per failed assertion.
struct Failure {
    std::string file;
    int line = 0;
    std::string message;
};

void sendString(int fd, const std::string& text) {
    const auto size = static_cast<std::uint32_t>(text.size());
    writeAll(fd, &size, sizeof size);
    writeAll(fd, text.data(), text.size());
}

void sendFailure(int fd, const Failure& failure) {
    const auto line = static_cast<std::int32_t>(failure.line);
    writeAll(fd, &line, sizeof line);
    sendString(fd, failure.file);
    sendString(fd, failure.message);
}

// Parses what the child sent; a torn record at the end is reported as such.
std::vector<Failure> parseFailures(const std::string& wire) {
    std::vector<Failure> failures;
    std::size_t pos = 0;
    auto take = [&](void* out, std::size_t size) {
        if (wire.size() - pos < size) {
            return false;
        }
        std::memcpy(out, wire.data() + pos, size);
        pos += size;
        return true;
    };
    auto takeString = [&](std::string& out) {
        std::uint32_t size = 0;
        if (!take(&size, sizeof size) || wire.size() - pos < size) {
            return false;
        }
        out.assign(wire, pos, size);
        pos += size;
        return true;
    };
    while (pos < wire.size()) {
        Failure failure;
        std::int32_t line = 0;
        if (!take(&line, sizeof line) || !takeString(failure.file) ||
            !takeString(failure.message)) {
            failures.push_back({"", 0, "sandbox: truncated failure report from the child"});
            break;
        }
        failure.line = line;
        failures.push_back(std::move(failure));
    }
    return failures;
}

// Runs in the child: prepares it, runs the body with every assertion intercepted, and
// sends the failures home. Never returns.
[[noreturn]] void childMain(int reportFd, Setup setup, const std::function<void()>& body) {
    ::setpgid(0, 0);
    std::vector<Failure> failures;
    const std::string setupError = setup();
    if (!setupError.empty()) {
        failures.push_back({__FILE__, __LINE__, "sandbox set-up failed: " + setupError});
    } else {
        ::testing::TestPartResultArray results;
        {
            // Both: a reporter of this thread inherited from the parent (as inside
            // EXPECT_NONFATAL_FAILURE) would otherwise take the results.
            ::testing::ScopedFakeTestPartResultReporter allThreads(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
            ::testing::ScopedFakeTestPartResultReporter thisThread(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                &results);
            try {
                body();
            } catch (const std::exception& e) {
                ADD_FAILURE() << "exception escaped the sandboxed body: " << e.what();
            } catch (...) {
                ADD_FAILURE() << "unknown exception escaped the sandboxed body";
            }
        }
        for (int i = 0; i < results.size(); ++i) {
            const ::testing::TestPartResult& result = results.GetTestPartResult(i);
            if (!result.failed()) {
                continue;
            }
            failures.push_back({result.file_name() != nullptr ? result.file_name() : "",
                                result.line_number(), result.message()});
        }
    }
    for (const Failure& failure : failures) {
        sendFailure(reportFd, failure);
    }
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    ::_exit(0);
}

// Waits, within a bound, for every process of the killed group `group` that was orphaned
// and so became a child of this process.
void reapGroup(pid_t group) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    // A killed grandchild comes to this process only once its own parent is gone, so
    // the group is watched until it is empty, not until this process has no child in it.
    while (::kill(-group, 0) == 0 && std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(-group, nullptr, WNOHANG) <= 0) {
            ::usleep(1000);
        }
    }
}

}  // namespace

void runChild(Setup setup, const std::function<void()>& body, std::chrono::milliseconds limit) {
    // Orphans of the sandbox's processes must come here, not to init, to be reaped.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << systemError("sandbox: pipe");
        return;
    }
    // Whatever sits in our stdio buffers must not be written a second time by the child.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ADD_FAILURE() << systemError("sandbox: fork");
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return;
    }
    if (pid == 0) {
        ::close(pipeFds[0]);
        childMain(pipeFds[1], setup, body);
    }
    ::close(pipeFds[1]);
    ::setpgid(pid, pid);  // also done by the child; whichever runs first wins the race

    std::string wire;
    bool timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd pfd{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        wire.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    if (timedOut) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // Anything the body left running in its process group goes with it, and is reaped here
    // (orphans come to this process, see runChild) so that not even a zombie stays.
    ::kill(-pid, SIGKILL);
    reapGroup(pid);

    for (const Failure& failure : parseFailures(wire)) {
        GTEST_MESSAGE_AT_(failure.file.empty() ? "(sandbox)" : failure.file.c_str(), failure.line,
                          failure.message.c_str(), ::testing::TestPartResult::kNonFatalFailure);
    }
    if (timedOut) {
        ADD_FAILURE() << "sandbox: child killed after its limit of " << limit.count() << " ms";
    } else if (WIFSIGNALED(status)) {
        ADD_FAILURE() << "sandbox: child ended by signal " << WTERMSIG(status) << " ("
                      << strsignal(WTERMSIG(status)) << ")";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << "sandbox: child exited with status " << WEXITSTATUS(status);
    }
}

}  // namespace bw_sim::detail
