// The throwing descriptor operations on real pipes.
#include "lib/rawio/with_exception.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "descriptors.hpp"
#include "lib/rawio/Exception.hpp"
#include "sandbox/Sandbox.hpp"
#include "support/Syscalls.hpp"

namespace RawIO {
namespace {

using bw_test::feedInPieces;
using bw_test::makeOnePagePipe;
using bw_test::makePipe;
using bw_test::msSince;
using bw_test::putBytes;
using Clock = std::chrono::steady_clock;

// Runs `call`, which must throw, and returns the exception.
template <typename Call>
Exception thrownBy(Call call) {
    try {
        call();
    } catch (const Exception& e) {
        return e;
    }
    ADD_FAILURE() << "no exception";
    return Exception("none");
}

TEST(ReadSomeWithin, ReturnsWhatOneReadDeliversOrZeroAtTheTimeout) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "abc");
    char got[8] = {};
    EXPECT_EQ(3U, readSomeWithin(pipe.readEnd.get(), got, sizeof got, 1000));
    EXPECT_EQ("abc", std::string(got, 3));
    const auto start = Clock::now();
    EXPECT_EQ(0U, readSomeWithin(pipe.readEnd.get(), got, sizeof got, 30));
    EXPECT_GE(msSince(start), 25);
}

TEST(WriteSomeWithin, WritesWhatFitsOrZeroOnAFullPipe) {
    auto pipe = makeOnePagePipe(O_NONBLOCK);
    const std::string big(5000, 'w');
    EXPECT_EQ(4096U, writeSomeWithin(pipe.writeEnd.get(), big.data(), big.size(), 1000));
    EXPECT_EQ(0U, writeSomeWithin(pipe.writeEnd.get(), big.data(), big.size(), 30));
}

TEST(ReadAtLeast, ReturnsAsSoonAsTheMinimumIsRead) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "xyz");
    char got[8] = {};
    const auto start = Clock::now();
    EXPECT_EQ(3U, readAtLeast(pipe.readEnd.get(), got, 2, 8, 5000));
    EXPECT_LT(msSince(start), 3000);
    EXPECT_EQ("xyz", std::string(got, 3));
}

TEST(ReadAtLeast, CollectsOverSeveralReads) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "1");
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        putBytes(pipe.writeEnd.get(), "2");
    });
    char got[8] = {};
    const auto start = Clock::now();
    EXPECT_EQ(2U, readAtLeast(pipe.readEnd.get(), got, 2, 8, 5000));
    EXPECT_LT(msSince(start), 3000);
    writer.join();
    EXPECT_EQ("12", std::string(got, 2));
}

TEST(ReadAtLeast, GivesTheShortCountAtTheDeadline) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "1");
    char got[8] = {};
    const auto start = Clock::now();
    EXPECT_EQ(1U, readAtLeast(pipe.readEnd.get(), got, 4, 8, 50));
    EXPECT_GE(msSince(start), 45);
    EXPECT_LT(msSince(start), 2000);
}

TEST(ReadAtLeast, TimeoutZeroTouchesNothingAndNegativeStopsAfterOneRead) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "1");
    char got[8] = {};
    EXPECT_EQ(0U, readAtLeast(pipe.readEnd.get(), got, 1, 8, 0));
    EXPECT_EQ(1U, readAtLeast(pipe.readEnd.get(), got, 2, 8, -1));
    EXPECT_EQ('1', got[0]);
}

TEST(ReadAtLeast, NeverAsksForMoreThanTheMaximum) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "abcdef");
    char got[8] = {};
    // A minimum above the maximum must not make it wait for bytes it will never read.
    const auto start = Clock::now();
    EXPECT_EQ(4U, readAtLeast(pipe.readEnd.get(), got, 6, 4, 2000));
    EXPECT_LT(msSince(start), 1000);
    EXPECT_EQ(2U, readSomeWithin(pipe.readEnd.get(), got, sizeof got, 0));
}

TEST(ReadFullWithin, TrueOnlyForTheWholeLength) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "12345");
    char got[8] = {};
    EXPECT_TRUE(readFullWithin(pipe.readEnd.get(), got, 4, 1000));
    EXPECT_FALSE(readFullWithin(pipe.readEnd.get(), got, 4, 30));
}

TEST(WriteFullWithin, ReturnsWithoutWaitingOutItsTimeout) {
    auto pipe = makePipe();
    const auto start = Clock::now();
    EXPECT_TRUE(writeFullWithin(pipe.writeEnd.get(), "01234567", 8, 5000));
    EXPECT_LT(msSince(start), 3000);
    char got[8];
    ASSERT_TRUE(readFullWithin(pipe.readEnd.get(), got, 8, 1000));
    EXPECT_EQ("01234567", std::string(got, 8));
}

TEST(WriteFullWithin, PartOfTheDataIsNotSuccess) {
    auto pipe = makeOnePagePipe(O_NONBLOCK);
    const std::string big(5000, 'w');
    EXPECT_FALSE(writeFullWithin(pipe.writeEnd.get(), big.data(), big.size(), 30));
}

TEST(ReadExactly, AssemblesShortReads) {
    auto pipe = makePipe();
    std::thread writer =
        feedInPieces(pipe.writeEnd.get(), {"ab", "cd", "ef"}, std::chrono::milliseconds(10));
    char got[6] = {};
    EXPECT_TRUE(readExactly(pipe.readEnd.get(), got, sizeof got));
    writer.join();
    EXPECT_EQ("abcdef", std::string(got, 6));
}

TEST(WriteExactly, WritesEverything) {
    auto pipe = makePipe();
    EXPECT_TRUE(writeExactly(pipe.writeEnd.get(), "abcdef", 6));
    char got[6] = {};
    EXPECT_TRUE(readExactly(pipe.readEnd.get(), got, sizeof got));
    EXPECT_EQ("abcdef", std::string(got, 6));
}

class NoProgress : public bw_sim::SandboxTest {};

// In children with a limit: a loop that made no progress would never end.
TEST_F(NoProgress, ReadExactlyIsFalseAtEndOfFile) {
    bw_sim::runInSandbox(
        [] {
            auto pipe = makePipe();
            putBytes(pipe.writeEnd.get(), "abc");
            pipe.closeWriteEnd();
            char got[6] = {};
            EXPECT_FALSE(readExactly(pipe.readEnd.get(), got, sizeof got));
            EXPECT_EQ("abc", std::string(got, 3));
        },
        std::chrono::milliseconds(5000));
}

TEST_F(NoProgress, WriteExactlyIsFalseWhenWriteTakesNothing) {
    bw_sim::runInSandbox(
        [] {
            auto pipe = makePipe();
            ASSERT_TRUE(bw_test::forceSyscallResult(SYS_write, pipe.writeEnd.get(), 0));
            EXPECT_FALSE(writeExactly(pipe.writeEnd.get(), "abc", 3));
        },
        std::chrono::milliseconds(5000));
}

TEST_F(NoProgress, DiscardInputOrThrowReturnsAtEndOfFile) {
    bw_sim::runInSandbox(
        [] {
            auto pipe = makePipe();
            putBytes(pipe.writeEnd.get(), std::string(3000, 'd'));
            pipe.closeWriteEnd();
            discardInputOrThrow(pipe.readEnd.get());
            char got[1];
            EXPECT_EQ(0U, readSomeWithin(pipe.readEnd.get(), got, 1, 100));
        },
        std::chrono::milliseconds(5000));
}

TEST(DiscardInputOrThrow, DropsEverythingPending) {
    auto pipe = makePipe(O_NONBLOCK);
    putBytes(pipe.writeEnd.get(), std::string(5000, 'd'));
    discardInputOrThrow(pipe.readEnd.get());
    char got[1];
    EXPECT_EQ(0U, readSomeWithin(pipe.readEnd.get(), got, 1, 0));
}

TEST(DiscardInputOrThrow, EagainIsAFailure) {
    auto pipe = makePipe(O_NONBLOCK);
    putBytes(pipe.writeEnd.get(), "late");
    const int readEnd = pipe.readEnd.get();
    const auto run = bw_test::runTrapped(
        [&] {
            try {
                discardInputOrThrow(readEnd);
            } catch (const Exception& e) {
                return e.errorNumber == EAGAIN && std::strcmp(e.what(), "IO-Error on read()") == 0
                           ? 0
                           : 2;
            }
            return 1;
        },
        {SYS_read},
        [&] {
            char taken[16];
            EXPECT_EQ(4, ::read(readEnd, taken, sizeof taken));
        });
    EXPECT_TRUE(run.trapped);
    EXPECT_EQ(0, run.exitCode);
}

TEST(Failures, CarryTheMessageAndErrnoOfTheFailedCall) {
    char got[4];
    // A closed descriptor polls as ready (POLLNVAL), so the transfer itself fails.
    const int closed = bw_test::closedDescriptor();
    Exception e = thrownBy([&] { (void)readSomeWithin(closed, got, sizeof got, 100); });
    EXPECT_STREQ("IO-Error on read()", e.what());
    EXPECT_EQ(EBADF, e.errorNumber);
    e = thrownBy([&] { (void)writeAtLeast(closed, got, 1, 4, 100); });
    EXPECT_STREQ("IO-Error on write()", e.what());
    EXPECT_EQ(EBADF, e.errorNumber);
    e = thrownBy([&] { (void)readExactly(closed, got, sizeof got); });
    EXPECT_STREQ("IO-Error on read()", e.what());
    e = thrownBy([&] { discardInputOrThrow(closed); });
    EXPECT_STREQ("IO-Error on read()", e.what());
}

TEST(Failures, PollFailureIsAnException) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "data");
    const int readEnd = pipe.readEnd.get();
    const auto run = bw_test::runTrapped(
        [&] {
            if (!bw_test::forcePollFailure(EINTR)) {
                return 100;
            }
            char got[4];
            try {
                (void)readAtLeast(readEnd, got, 1, 4, 100);
            } catch (const Exception& e) {
                return e.errorNumber == EINTR && std::strcmp(e.what(), "IO-Error on poll()") == 0
                           ? 0
                           : 2;
            }
            return 1;
        },
        {});
    EXPECT_EQ(0, run.exitCode);
}

}  // namespace
}  // namespace RawIO
