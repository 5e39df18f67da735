#include "lib/prism/Model.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "sandbox/Sandbox.hpp"

namespace bw_selftest {
namespace {

namespace sandbox = bw_sim::sandbox;

constexpr const char* kModelDirectory = "/usr/local/share/brambleway";

// Each case gets a fresh, empty model directory in a new sandbox.
class ModelFile : public bw_sim::SandboxTest {
  protected:
    static void withModelFile(const std::string& content, const std::string& expectedId) {
        bw_sim::runInSandbox([&] {
            sandbox::freshDirectory(kModelDirectory);
            sandbox::writeFile(kModelFilePath, content);
            EXPECT_EQ(expectedId, readModelId())
                << "file content: " << ::testing::PrintToString(content);
        });
    }
};

TEST_F(ModelFile, IdIsTheFirstLineWithOrWithoutLineFeed) {
    withModelFile("prism-1v1-eu\n", "prism-1v1-eu");
    withModelFile("prism-1v1-eu", "prism-1v1-eu");
    withModelFile("prism-1v1-eu\ncrate-1v0-b-eu\nanything\n", "prism-1v1-eu");
}

TEST_F(ModelFile, NoByteOfTheFirstLineIsRemoved) {
    withModelFile("prism-1v1-eu\r\n", "prism-1v1-eu\r");
    withModelFile(" prism-1v1-eu \n", " prism-1v1-eu ");
    withModelFile("\tPrism-1v1-eu\n", "\tPrism-1v1-eu");
}

TEST_F(ModelFile, LeadingLineFeedGivesTheEmptyId) {
    withModelFile("\nprism-1v1-eu\n", "");
}

TEST_F(ModelFile, ZeroByteFileGivesTheFallback) {
    withModelFile("", kFallbackModelId);
}

TEST_F(ModelFile, MissingFileGivesTheFallback) {
    bw_sim::runInSandbox([] {
        sandbox::freshDirectory(kModelDirectory);
        EXPECT_EQ("prism-tmp-v1-eu", readModelId());
    });
}

TEST_F(ModelFile, UnreadableFileGivesTheFallback) {
    BW_REQUIRE_ROOT();
    bw_sim::runInSandbox([] {
        sandbox::freshDirectory(kModelDirectory);
        sandbox::writeFile(kModelFilePath, "prism-1v1-eu\n", 0600);
        bw_sim::runUnprivileged([] { EXPECT_EQ("prism-tmp-v1-eu", readModelId()); });
    });
}

TEST_F(ModelFile, DirectoryInPlaceOfTheFileGivesTheFallback) {
    bw_sim::runInSandbox([] {
        sandbox::freshDirectory(kModelFilePath);
        EXPECT_EQ("prism-tmp-v1-eu", readModelId());
    });
}

TEST_F(ModelFile, LongIdIsReadWhole) {
    const std::string longId(100000, 'p');
    withModelFile(longId + "\n", longId);
}

TEST(ReadFirstLine, LeavesTheOutputAloneOnFailure) {
    std::string line = "kept";
    EXPECT_FALSE(readFirstLine("/nonexistent/bw-selftest/model", line));
    EXPECT_EQ("kept", line);
}

class BoardRevision : public bw_sim::SandboxTest {
  protected:
    static void withCpuinfo(const std::string& content, const std::string& expected) {
        bw_sim::runInSandbox([&] {
            sandbox::writeFile("/tmp/cpuinfo", content);
            sandbox::bindFile("/tmp/cpuinfo", "/proc/cpuinfo");
            EXPECT_EQ(expected, readBoardRevision()) << ::testing::PrintToString(content);
        });
    }
};

TEST_F(BoardRevision, TakesTheTextAfterTheLastColonBlank) {
    withCpuinfo("processor\t: 0\nHardware\t: BCM2835\nRevision\t: 9000c1\nSerial\t\t: 00\n",
                "9000c1");
    withCpuinfo("Revision: a: b\n", "b");
}

TEST_F(BoardRevision, EmptyWithoutAUsableRevisionLine) {
    withCpuinfo("processor\t: 0\nHardware\t: BCM2835\n", "");
    withCpuinfo("revision\t: 9000c1\n", "");
    withCpuinfo("Revision\t:9000c1\n", "");
    withCpuinfo("Revision\t: \n", "");
    withCpuinfo("", "");
}

TEST_F(BoardRevision, FirstRevisionLineCounts) {
    withCpuinfo("Revision\t: 000e\nRevision\t: a02082\n", "000e");
}

}  // namespace
}  // namespace bw_selftest
