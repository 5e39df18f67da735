// The runner of the program under test and the ending of every process a sandbox started.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "HubTestSupport.hpp"
#include "sandbox/Processes.hpp"
#include "sandbox/ProgramRun.hpp"
#include "sandbox/Sandbox.hpp"

namespace {

using bw_sim::ProgramRun;
using std::chrono::milliseconds;

class Runner : public bw_sim::SandboxTest {};

constexpr milliseconds kLimit{20000};

TEST_F(Runner, ArgumentsAreGivenAndTheEnvironmentIsEmpty) {
    bw_sim::runInSandbox(
        [] {
            ProgramRun run({"/bin/sh", "-c", "echo \"$#\" \"$0\"; env | wc -l >&2; exit 4", "x"});
            ASSERT_TRUE(run.waitForExit(milliseconds(5000)));
            EXPECT_EQ("0 x\n", run.out());
            EXPECT_EQ("1\n", run.err());  // only the PWD that the shell sets itself
            EXPECT_EQ(4, WEXITSTATUS(run.waitStatus()));
        },
        kLimit);
}

TEST_F(Runner, ACommandLeftInTheBackgroundDoesNotHoldTheRunnerUp) {
    bw_sim::runInSandbox(
        [] {
            const auto start = std::chrono::steady_clock::now();
            {
                ProgramRun run({"/bin/sh", "-c", "sleep 30 & echo started"});
                ASSERT_TRUE(run.waitForExit(milliseconds(5000)));
                EXPECT_EQ("started\n", run.out());
            }
            EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(5000));
            EXPECT_TRUE(bw_sim::endDescendants());
        },
        kLimit);
}

TEST_F(Runner, TheProgramDiesWithItsStarter) {
    bw_sim::runInSandbox(
        [] {
            bw_sim::adoptOrphans();
            int pipeFds[2];
            ASSERT_EQ(0, ::pipe(pipeFds));
            const pid_t starter = ::fork();
            if (starter == 0) {
                auto* run = new ProgramRun({"/bin/sleep", "30"});  // never destroyed
                const pid_t pid = run->pid();
                if (::write(pipeFds[1], &pid, sizeof pid) != sizeof pid) {
                    ::_exit(2);
                }
                ::_exit(0);
            }
            pid_t program = 0;
            ASSERT_EQ(static_cast<ssize_t>(sizeof program),
                      ::read(pipeFds[0], &program, sizeof program));
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
            ASSERT_EQ(starter, ::waitpid(starter, nullptr, 0));
            int status = 0;
            ASSERT_EQ(program, ::waitpid(program, &status, 0));  // an orphan, adopted here
            EXPECT_TRUE(WIFSIGNALED(status));
            EXPECT_EQ(SIGKILL, WTERMSIG(status));
        },
        kLimit);
}

TEST_F(Runner, TerminateTellsWhetherSigtermEndedTheProgram) {
    bw_sim::runInSandbox(
        [] {
            ProgramRun plain({"/bin/sleep", "30"});
            EXPECT_TRUE(plain.terminate());
            ProgramRun deaf(
                {"/bin/sh", "-c", "trap '' TERM; echo ready; while :; do sleep 1; done"});
            while (deaf.out().empty()) {
                ASSERT_FALSE(deaf.waitForExit(milliseconds(10)));
            }
            EXPECT_FALSE(deaf.terminate(milliseconds(300)));
            EXPECT_TRUE(deaf.exited());
            EXPECT_TRUE(bw_sim::endDescendants());
        },
        kLimit);
}

TEST_F(Runner, EveryDescendantIsFoundAndEnded) {
    bw_sim::runInSandbox(
        [] {
            bw_sim::adoptOrphans();
            const pid_t shell = ::fork();
            if (shell == 0) {
                ::execl("/bin/sh", "sh", "-c", "sleep 30 & (sleep 30 & sleep 30) & wait", nullptr);
                ::_exit(127);
            }
            // The shell, the first sleep, the subshell (or its last sleep, if it was
            // replaced by it) and the sleeps in it.
            auto found = bw_sim::descendantsOf(::getpid());
            while (found.size() < 4) {
                ::usleep(1000);
                found = bw_sim::descendantsOf(::getpid());
            }
            EXPECT_EQ(shell, found.front());
            EXPECT_TRUE(bw_sim::endDescendants(milliseconds(3000)));
            EXPECT_TRUE(bw_sim::descendantsOf(::getpid()).empty());
            for (const pid_t pid : found) {
                EXPECT_FALSE(bw_sim_test::processExists(pid)) << pid;
            }
        },
        kLimit);
}

}  // namespace
