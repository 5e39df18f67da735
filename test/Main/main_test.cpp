// The program as the service manager starts it, inside a sandbox.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include "sandbox/ProgramRun.hpp"
#include "sandbox/Sandbox.hpp"

namespace {

namespace sandbox = bw_sim::sandbox;
using std::chrono::milliseconds;

constexpr milliseconds kStartLimit{10000};

class Entry : public bw_sim::SandboxTest {};

// Runs the program until it blocks for good and checks what it said and that only
// SIGTERM ends it.
void expectWaitsAfterPrinting(const std::string& expectedOut) {
    bw_sim::ProgramRun run({BW_SELFTEST_PATH});
    ASSERT_TRUE(run.waitUntilPaused(kStartLimit)) << "out: " << run.out() << "\nerr: " << run.err();
    EXPECT_EQ(expectedOut, run.out());
    EXPECT_EQ("", run.err());
    EXPECT_FALSE(run.waitForExit(milliseconds(200))) << "exited on its own";
    EXPECT_TRUE(run.terminate());
}

TEST_F(Entry, WithoutModelFileReportsFallbackIdAndWaits) {
    bw_sim::runInSandbox([] {
        sandbox::freshDirectory("/usr/local/share/brambleway");
        expectWaitsAfterPrinting(
            "corenode.model = \"prism-tmp-v1-eu\"\n"
            "Model not supported. Awaiting termination... \n");
    });
}

TEST_F(Entry, UnknownModelIsPrintedAsReadAndRefused) {
    bw_sim::runInSandbox([] {
        sandbox::freshDirectory("/usr/local/share/brambleway");
        sandbox::writeFile("/usr/local/share/brambleway/corenode.model", "prism-1v1-eu\r\n");
        expectWaitsAfterPrinting(
            "corenode.model = \"prism-1v1-eu\r\"\n"
            "Model not supported. Awaiting termination... \n");
    });
}

TEST_F(Entry, SupportedModelIsPrintedAndTheProgramWaits) {
    bw_sim::runInSandbox([] {
        sandbox::freshDirectory("/usr/local/share/brambleway");
        sandbox::writeFile("/usr/local/share/brambleway/corenode.model", "crate-1v0-b-eu\n");
        bw_sim::ProgramRun run({BW_SELFTEST_PATH});
        ASSERT_TRUE(run.waitUntilPaused(kStartLimit)) << run.out() << run.err();
        EXPECT_EQ(0U, run.out().find("corenode.model = \"crate-1v0-b-eu\"\n")) << run.out();
        EXPECT_EQ(std::string::npos, run.out().find("not supported"));
        EXPECT_TRUE(run.terminate());
    });
}

}  // namespace
