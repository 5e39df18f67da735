#include "lib/rawio/file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <thread>

#include "lib/rawio/Exception.hpp"
#include "lib/rawio/FileDescriptor.hpp"
#include "lib/rawio/RawIO.hpp"
#include "lib/rawio/with_exception.hpp"
#include "sandbox/Sandbox.hpp"
#include "support/Syscalls.hpp"

namespace RawIO {
namespace {

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

// Whether `body` makes a close call; run in a child watched at its system calls.
bool callsClose(const std::function<void()>& body) {
    return bw_test::runTrapped(
               [&] {
                   body();
                   return 0;
               },
               {SYS_close})
        .trapped;
}

TEST(FileDescriptor, ClosesWhatItOwnsAndNothingElse) {
    int fds[2];
    ASSERT_EQ(0, ::pipe(fds));
    {
        const FileDescriptor reader(fds[0]);
        EXPECT_EQ(fds[0], reader.get());
        EXPECT_TRUE(reader.isValid());
    }
    EXPECT_FALSE(isOpen(fds[0]));
    EXPECT_TRUE(isOpen(fds[1]));
    int released = -1;
    {
        FileDescriptor writer(fds[1]);
        released = writer.release();
        EXPECT_FALSE(writer.isValid());
    }
    EXPECT_TRUE(isOpen(released));
    ::close(released);
    const FileDescriptor empty;
    EXPECT_EQ(-1, empty.get());
    EXPECT_FALSE(empty.isValid());
}

TEST(FileDescriptor, AnEmptyOwnerClosesNothingAndDescriptorZeroIsOwned) {
    EXPECT_FALSE(callsClose([] { const FileDescriptor owner; }));
    EXPECT_FALSE(callsClose([] { const FileDescriptor owner(-1); }));
    EXPECT_FALSE(callsClose([] { const FileDescriptor owner(-7); }));
    EXPECT_TRUE(callsClose([] { const FileDescriptor owner(0); }));
}

TEST(FileDescriptor, MoveAssignmentClosesTheOldDescriptorWithTheSource) {
    int a[2];
    int b[2];
    ASSERT_EQ(0, ::pipe(a));
    ASSERT_EQ(0, ::pipe(b));
    ::close(a[1]);
    ::close(b[1]);
    FileDescriptor target(a[0]);
    {
        FileDescriptor source(b[0]);
        target = std::move(source);
        EXPECT_EQ(b[0], target.get());
        EXPECT_TRUE(isOpen(a[0]));  // now held by the source
    }
    EXPECT_FALSE(isOpen(a[0]));
    EXPECT_TRUE(isOpen(b[0]));
    FileDescriptor moved(std::move(target));
    EXPECT_EQ(b[0], moved.get());
    EXPECT_EQ(-1, target.get());  // NOLINT: reading a moved-from owner is the contract under test
}

TEST(FileDescriptor, OpeningAMissingPathThrowsWithErrno) {
    try {
        const FileDescriptor fd("/nonexistent/bw-selftest", O_RDONLY);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ("IO-Error on open()", e.what());
        EXPECT_EQ(ENOENT, e.errorNumber);
    }
}

TEST(ReadWholeFile, AssemblesShortReadsFromAPipe) {
    int fds[2];
    ASSERT_EQ(0, ::pipe(fds));
    const FileDescriptor readEnd(fds[0]);
    std::thread writer([fd = fds[1]] {
        const char* pieces[] = {"ab", "c", "defg", "h"};
        for (const char* piece : pieces) {
            EXPECT_EQ(static_cast<ssize_t>(std::strlen(piece)),
                      ::write(fd, piece, std::strlen(piece)));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::close(fd);
    });
    char buffer[16];
    const std::string path = "/proc/self/fd/" + std::to_string(readEnd.get());
    const auto view = readWholeFile(path, buffer, sizeof buffer);
    writer.join();
    EXPECT_EQ("abcdefgh", view.toString());
    EXPECT_EQ(buffer, view.data());
}

class WholeFile : public bw_sim::SandboxTest {};

TEST_F(WholeFile, ReadsAFileOfExactlyTheCapacity) {
    bw_sim::runInSandbox([] {
        bw_sim::sandbox::writeFile("/tmp/eight", "12345678");
        char buffer[8];
        EXPECT_EQ("12345678", readWholeFile("/tmp/eight", buffer, 8).toString());
        char tooSmall[7];
        try {
            (void)readWholeFile("/tmp/eight", tooSmall, 7);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_STREQ("file bigger than buffer", e.what());
            EXPECT_EQ(0, e.errorNumber);
            EXPECT_EQ(0, std::memcmp(tooSmall, "1234567", 7));
        }
    });
}

TEST_F(WholeFile, ZeroCapacityFitsOnlyAnEmptyFile) {
    bw_sim::runInSandbox([] {
        bw_sim::sandbox::writeFile("/tmp/empty", "");
        bw_sim::sandbox::writeFile("/tmp/one", "x");
        char buffer[1];
        EXPECT_EQ(0U, readWholeFile("/tmp/empty", buffer, 0).size());
        EXPECT_THROW((void)readWholeFile("/tmp/one", buffer, 0), Exception);
    });
}

TEST_F(WholeFile, ReadingAMissingFileThrowsOpenError) {
    bw_sim::runInSandbox([] {
        char buffer[4];
        try {
            (void)readWholeFile("/tmp/missing", buffer, sizeof buffer);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_STREQ("IO-Error on open()", e.what());
            EXPECT_EQ(ENOENT, e.errorNumber);
        }
    });
}

TEST_F(WholeFile, WriteCreatesTruncatesAndHonoursTheUmask) {
    bw_sim::runInSandbox([] {
        ::umask(022);
        writeWholeFile("/tmp/out", "hello world", 11);
        char buffer[32];
        EXPECT_EQ("hello world", readWholeFile("/tmp/out", buffer, sizeof buffer).toString());
        struct stat st {};
        ASSERT_EQ(0, ::stat("/tmp/out", &st));
        EXPECT_EQ(0644U, st.st_mode & 0777U);
        writeWholeFile("/tmp/out", "", 0);
        ASSERT_EQ(0, ::stat("/tmp/out", &st));
        EXPECT_EQ(0, st.st_size);
    });
}

TEST_F(WholeFile, WriteFailuresThrowWithErrno) {
    bw_sim::runInSandbox([] {
        try {
            writeWholeFile("/dev/full", "x", 1);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_STREQ("IO-Error on write()", e.what());
            EXPECT_EQ(ENOSPC, e.errorNumber);
        }
        try {
            writeWholeFile("/tmp/no/such/dir", "x", 1);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_STREQ("IO-Error on open()", e.what());
            EXPECT_EQ(ENOENT, e.errorNumber);
        }
    });
}

TEST_F(WholeFile, AWriteThatTakesNothingRaisesInsteadOfSpinning) {
    bw_sim::runInSandbox(
        [] {
            // The file will get the lowest free descriptor: make that one's writes take nothing.
            const int next = ::open("/dev/null", O_RDONLY);
            ASSERT_GE(next, 0);
            ::close(next);
            ASSERT_TRUE(bw_test::forceSyscallResult(SYS_write, next, 0));
            try {
                writeWholeFile("/tmp/out", "abc", 3);
                ADD_FAILURE() << "no exception";
            } catch (const Exception& e) {
                EXPECT_STREQ("IO-Error on write()", e.what());
                EXPECT_EQ(0, e.errorNumber);
            }
        },
        std::chrono::milliseconds(5000));
}

TEST_F(WholeFile, AFailedCloseRaisesWithItsErrno) {
    bw_sim::runInSandbox(
        [] {
            const int next = ::open("/dev/null", O_RDONLY);
            ASSERT_GE(next, 0);
            ::close(next);
            ASSERT_TRUE(bw_test::forceSyscallResult(SYS_close, next, EIO));
            try {
                writeWholeFile("/tmp/out", "abc", 3);
                ADD_FAILURE() << "no exception";
            } catch (const Exception& e) {
                EXPECT_STREQ("IO-Error on close()", e.what());
                EXPECT_EQ(EIO, e.errorNumber);
            }
        },
        std::chrono::milliseconds(5000));
}

TEST(ThrowingWrappers, ReadGivesZeroAtEndOfFileAndThrowsOnError) {
    int fds[2];
    ASSERT_EQ(0, ::pipe(fds));
    const FileDescriptor readEnd(fds[0]);
    EXPECT_EQ(3, writeOrThrow(fds[1], "abc", 3));
    ::close(fds[1]);
    char buffer[8];
    EXPECT_EQ(3, readOrThrow(readEnd.get(), buffer, sizeof buffer));
    EXPECT_EQ(0, readOrThrow(readEnd.get(), buffer, sizeof buffer));
    try {
        (void)readOrThrow(-1, buffer, sizeof buffer);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ("IO-Error on read()", e.what());
        EXPECT_EQ(EBADF, e.errorNumber);
    }
    EXPECT_THROW((void)writeOrThrow(-1, "x", 1), Exception);
}

}  // namespace
}  // namespace RawIO
