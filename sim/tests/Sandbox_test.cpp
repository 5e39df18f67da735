// The sandbox must carry every failure home and never touch the real system.
#include "sandbox/Sandbox.hpp"

#include <fcntl.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

namespace sandbox = bw_sim::sandbox;

class Sandbox : public bw_sim::SandboxTest {};

TEST_F(Sandbox, FailuresInTheChildReachTheTestWithTheirText) {
    EXPECT_NONFATAL_FAILURE(bw_sim::runInSandbox([] { ADD_FAILURE() << "seen in the child"; }),
                            "seen in the child");
    EXPECT_NONFATAL_FAILURE(bw_sim::runInSandbox([] { ASSERT_EQ(1, 2) << "fatal there"; }),
                            "fatal there");
}

TEST_F(Sandbox, CrashesHangsAndExceptionsFailTheTest) {
    EXPECT_NONFATAL_FAILURE(bw_sim::runInSandbox([] { ::raise(SIGSEGV); }), "signal 11");
    EXPECT_NONFATAL_FAILURE(bw_sim::runInSandbox([] { ::pause(); }, std::chrono::milliseconds(200)),
                            "killed after its limit of 200 ms");
    EXPECT_NONFATAL_FAILURE(bw_sim::runInSandbox([] { throw std::runtime_error("thrown"); }),
                            "thrown");
}

TEST_F(Sandbox, FilesMadeInsideStayInside) {
    const std::string marker = "/usr/local/share/bw-sandbox-test/file";
    ASSERT_NE(0, ::access(marker.c_str(), F_OK));
    bw_sim::runInSandbox([&] {
        sandbox::writeFile(marker, "inside");
        std::ifstream in(marker);
        std::string content;
        in >> content;
        EXPECT_EQ("inside", content);
    });
    EXPECT_NE(0, ::access(marker.c_str(), F_OK));
    EXPECT_NE(0, ::access("/usr/local/share/bw-sandbox-test", F_OK));
}

TEST_F(Sandbox, PlainWritesUnderTmpStayInside) {
    const std::string path = "/tmp/bw-sandbox-test-" + std::to_string(::getpid());
    bw_sim::runInSandbox([&] {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
        EXPECT_EQ(0, ::mkdir((path + ".d").c_str(), 0755));
    });
    EXPECT_NE(0, ::access(path.c_str(), F_OK));
    EXPECT_NE(0, ::access((path + ".d").c_str(), F_OK));
}

TEST_F(Sandbox, FreshDirectoryHidesWhatIsThere) {
    bw_sim::runInSandbox([] {
        ASSERT_EQ(0, ::access("/etc/passwd", F_OK));
        sandbox::freshDirectory("/etc");
        EXPECT_NE(0, ::access("/etc/passwd", F_OK));
    });
    EXPECT_EQ(0, ::access("/etc/passwd", F_OK));
}

TEST_F(Sandbox, RemovedPathsReturnWhenTheSandboxEnds) {
    bw_sim::runInSandbox([] {
        sandbox::removePath("/etc/hostname");
        EXPECT_NE(0, ::access("/etc/hostname", F_OK));
        EXPECT_EQ(0, ::access("/etc/passwd", F_OK));
    });
    EXPECT_EQ(0, ::access("/etc/passwd", F_OK));
}

TEST_F(Sandbox, FreshDevHasTheBasicNodesAndWorkingPseudoTerminals) {
    bw_sim::runInSandbox(
        [] {
            sandbox::freshDev();
            EXPECT_NE(0, ::access("/dev/sda", F_OK));
            const int null = ::open("/dev/null", O_WRONLY);
            ASSERT_GE(null, 0);
            EXPECT_EQ(3, ::write(null, "abc", 3));
            ::close(null);
            const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
            ASSERT_GE(master, 0);
            ASSERT_EQ(0, ::grantpt(master));
            ASSERT_EQ(0, ::unlockpt(master));
            const char* slaveName = ::ptsname(master);
            ASSERT_NE(nullptr, slaveName);
            EXPECT_EQ(0, std::string(slaveName).rfind("/dev/pts/", 0));
            const int slave = ::open(slaveName, O_RDWR | O_NOCTTY);
            ASSERT_GE(slave, 0);
            EXPECT_EQ(3, ::write(master, "hi\n", 3));  // canonical mode: a whole line
            char buffer[4] = {};
            EXPECT_EQ(3, ::read(slave, buffer, sizeof buffer));
            ::close(slave);
            ::close(master);
            sandbox::writeFile("/dev/brambleway/Z-Wave", "");
        },
        std::chrono::milliseconds(10000));
    EXPECT_NE(0, ::access("/dev/brambleway", F_OK));
}

TEST_F(Sandbox, UnprivilegedChildRunsAsNobodyAndMayWriteTmp) {
    BW_REQUIRE_ROOT();
    bw_sim::runInSandbox([] {
        bw_sim::runUnprivileged([] {
            EXPECT_EQ(65534U, ::getuid());
            EXPECT_EQ(65534U, ::geteuid());
            EXPECT_EQ(65534U, ::getegid());
            const int fd = ::open("/tmp/by-nobody", O_WRONLY | O_CREAT | O_EXCL, 0600);
            EXPECT_GE(fd, 0) << std::strerror(errno);
            ::close(fd);
        });
    });
}

}  // namespace
