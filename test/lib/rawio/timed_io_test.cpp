// The error-code descriptor operations on real pipes and pseudo-terminals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "descriptors.hpp"
#include "lib/rawio/RawIO.hpp"
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

// A Result as a child's exit code.
int code(Result result) {
    return static_cast<int>(result) & 0xff;
}

TEST(ReadAllWriteAll, MoveEverythingWithOneCall) {
    auto pipe = makePipe();
    EXPECT_EQ(Result::OK, writeAll(pipe.writeEnd.get(), "abcd", 4));
    char got[4] = {};
    EXPECT_EQ(Result::OK, readAll(pipe.readEnd.get(), got, 4));
    EXPECT_EQ("abcd", std::string(got, 4));
}

TEST(ReadAllWriteAll, ShortCountsAreIncomplete) {
    auto pipe = makeOnePagePipe(O_NONBLOCK);
    putBytes(pipe.writeEnd.get(), "xyz");
    char got[4] = {};
    EXPECT_EQ(Result::IncompleteRead, readAll(pipe.readEnd.get(), got, 4));
    const std::string big(5000, 'b');
    EXPECT_EQ(Result::IncompleteWrite, writeAll(pipe.writeEnd.get(), big.data(), big.size()));
    // Full now: EAGAIN has no mapping, so the write fallback applies.
    EXPECT_EQ(Result::WriteFailed, writeAll(pipe.writeEnd.get(), "c", 1));
}

TEST(ReadAllWriteAll, EndOfFileIsIncompleteAndBadDescriptorsFail) {
    auto pipe = makePipe();
    pipe.closeWriteEnd();
    char got[4] = {};
    EXPECT_EQ(Result::IncompleteRead, readAll(pipe.readEnd.get(), got, 4));
    EXPECT_EQ(Result::ReadFailed, readAll(-1, got, 4));
    EXPECT_EQ(Result::WriteFailed, writeAll(pipe.readEnd.get(), "a", 1));
}

TEST(ReadByte, EndOfFileIsIncomplete) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "Z");
    pipe.closeWriteEnd();
    std::uint8_t byte = 0;
    EXPECT_EQ(Result::OK, readByte(pipe.readEnd.get(), &byte, 1000));
    EXPECT_EQ('Z', byte);
    EXPECT_EQ(Result::IncompleteRead, readByte(pipe.readEnd.get(), &byte, 1000));
}

TEST(ReadByteWriteByte, CrossAPseudoTerminalAndTimeOut) {
    auto terminal = bw_test::openPseudoTerminal();
    EXPECT_EQ(Result::OK, writeByte(terminal.slave.get(), 0x7E, 1000));
    std::uint8_t byte = 0;
    EXPECT_EQ(Result::OK, readByte(terminal.master.get(), &byte, 1000));
    EXPECT_EQ(0x7E, byte);
    const auto start = Clock::now();
    EXPECT_EQ(Result::TimedOut, readByte(terminal.master.get(), &byte, 50));
    EXPECT_GE(msSince(start), 45);
    EXPECT_LT(msSince(start), 2000);
}

TEST(WriteByte, TimesOutOnAFullPipe) {
    auto pipe = makeOnePagePipe();
    const std::string page(4096, 'p');
    ASSERT_EQ(Result::OK, writeAll(pipe.writeEnd.get(), page.data(), page.size()));
    const auto start = Clock::now();
    EXPECT_EQ(Result::TimedOut, writeByte(pipe.writeEnd.get(), 1, 30));
    EXPECT_GE(msSince(start), 25);
}

TEST(ReadWithTimeout, OnlyPartOfTheDataIsTimedOutAfterTheTimeout) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "0123");
    char got[10] = {};
    const auto start = Clock::now();
    EXPECT_EQ(Result::TimedOut, readWithTimeout(pipe.readEnd.get(), got, 10, 50));
    const std::int64_t took = msSince(start);
    EXPECT_GE(took, 45);
    EXPECT_LT(took, 2000);
    EXPECT_EQ("0123", std::string(got, 4));
}

TEST(ReadWithTimeout, TimeoutZeroPollsOnceWithoutWaiting) {
    auto pipe = makePipe();
    char got[10] = {};
    const auto start = Clock::now();
    EXPECT_EQ(Result::TimedOut, readWithTimeout(pipe.readEnd.get(), got, 10, 0));
    EXPECT_LT(msSince(start), 500);
    putBytes(pipe.writeEnd.get(), "0123456789");
    EXPECT_EQ(Result::OK, readWithTimeout(pipe.readEnd.get(), got, 10, 0));
    EXPECT_EQ("0123456789", std::string(got, 10));
}

TEST(ReadWithTimeout, AssemblesPiecesAndReturnsWhenComplete) {
    auto pipe = makePipe();
    std::thread writer =
        feedInPieces(pipe.writeEnd.get(), {"abc", "def", "ghi"}, std::chrono::milliseconds(20));
    char got[9] = {};
    const auto start = Clock::now();
    EXPECT_EQ(Result::OK, readWithTimeout(pipe.readEnd.get(), got, 9, 5000));
    EXPECT_LT(msSince(start), 3000);
    writer.join();
    EXPECT_EQ("abcdefghi", std::string(got, 9));
}

TEST(ReadWithTimeout, EndOfFileEndsAtTheDeadline) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "ab");
    pipe.closeWriteEnd();
    char got[10] = {};
    const auto start = Clock::now();
    EXPECT_EQ(Result::TimedOut, readWithTimeout(pipe.readEnd.get(), got, 10, 50));
    EXPECT_GE(msSince(start), 45);
    EXPECT_LT(msSince(start), 2000);
}

TEST(ReadWithTimeout, NegativeTimeoutReturnsAfterTheFirstRead) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "ab");
    char got[10] = {};
    EXPECT_EQ(Result::TimedOut, readWithTimeout(pipe.readEnd.get(), got, 10, -1));
    putBytes(pipe.writeEnd.get(), "0123456789");
    EXPECT_EQ(Result::OK, readWithTimeout(pipe.readEnd.get(), got, 10, -1));
}

TEST(ReadWithTimeout, FailedReadFallsBackToReadFailed) {
    char got[4] = {};
    // poll reports a closed descriptor as ready (POLLNVAL), and read gives EBADF.
    const int closed = bw_test::closedDescriptor();
    EXPECT_EQ(Result::ReadFailed, readWithTimeout(closed, got, 4, 100));
    EXPECT_EQ(Result::WriteFailed, writeWithTimeout(closed, got, 4, 100));
}

TEST(WriteWithTimeout, FullPipeTimesOutAndRoomLetsItFinish) {
    auto pipe = makeOnePagePipe();
    const std::string page(4096, 'p');
    const auto start = Clock::now();
    EXPECT_EQ(Result::OK, writeWithTimeout(pipe.writeEnd.get(), page.data(), page.size(), 5000));
    EXPECT_LT(msSince(start), 3000);
    EXPECT_EQ(Result::TimedOut, writeWithTimeout(pipe.writeEnd.get(), "x", 1, 30));
    char drained[4096];
    ASSERT_EQ(Result::OK, readAll(pipe.readEnd.get(), drained, sizeof drained));
    EXPECT_EQ(Result::OK, writeWithTimeout(pipe.writeEnd.get(), "x", 1, 30));
}

TEST(DiscardInput, DropsEverythingPending) {
    auto pipe = makePipe(O_NONBLOCK);
    putBytes(pipe.writeEnd.get(), std::string(300, 'j'));
    EXPECT_EQ(Result::OK, discardInput(pipe.readEnd.get()));
    char got[1];
    EXPECT_EQ(Result::TimedOut, readWithTimeout(pipe.readEnd.get(), got, 1, 0));
    // Nothing pending at all is fine too.
    EXPECT_EQ(Result::OK, discardInput(pipe.readEnd.get()));
}

class DiscardInputAtEnd : public bw_sim::SandboxTest {};

// Run in a child with a limit: were end of file not noticed, it would never return.
TEST_F(DiscardInputAtEnd, ReturnsAtEndOfFile) {
    bw_sim::runInSandbox(
        [] {
            auto pipe = makePipe();
            putBytes(pipe.writeEnd.get(), std::string(200, 'e'));
            pipe.closeWriteEnd();
            EXPECT_EQ(Result::OK, discardInput(pipe.readEnd.get()));
        },
        std::chrono::milliseconds(5000));
}

TEST(DiscardInput, EagainAfterPollCountsAsNothingPending) {
    auto pipe = makePipe(O_NONBLOCK);
    putBytes(pipe.writeEnd.get(), "late");
    const int readEnd = pipe.readEnd.get();
    // Held at its read, the child finds the bytes gone: poll said ready, read says EAGAIN.
    const auto run = bw_test::runTrapped([&] { return code(discardInput(readEnd)); }, {SYS_read},
                                         [&] {
                                             char taken[16];
                                             EXPECT_EQ(4, ::read(readEnd, taken, sizeof taken));
                                         });
    EXPECT_TRUE(run.trapped);
    EXPECT_EQ(code(Result::OK), run.exitCode);
}

TEST(DiscardInput, OtherReadFailuresAreMapped) {
    EXPECT_EQ(Result::ReadFailed, discardInput(bw_test::closedDescriptor()));
}

// Every poll fails with the given errno in a child; the results of the operations that poll.
TEST(PollFailure, IsMappedWithThePollFallback) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "data");
    const int readEnd = pipe.readEnd.get();
    const auto results = [&](int errorNumber) {
        return bw_test::runTrapped(
                   [&] {
                       if (!bw_test::forcePollFailure(errorNumber)) {
                           return 100;
                       }
                       char got[4];
                       std::uint8_t byte = 0;
                       const Result a = readWithTimeout(readEnd, got, 4, 100);
                       const Result b = readByte(readEnd, &byte, 100);
                       const Result c = discardInput(readEnd);
                       return a == b && b == c ? code(a) : 101;
                   },
                   {})
            .exitCode;
    };
    EXPECT_EQ(code(Result::PollFailed), results(EINTR));
    EXPECT_EQ(code(Result::OutOfMemory), results(ENOMEM));
}

}  // namespace
}  // namespace RawIO
