// The deadline clock and the timed operations when the monotonic clock cannot be read.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "descriptors.hpp"
#include "lib/rawio/Exception.hpp"
#include "lib/rawio/RawIO.hpp"
#include "lib/rawio/TimeoutClock.hpp"
#include "lib/rawio/file_await.hpp"
#include "lib/rawio/with_exception.hpp"
#include "support/UnreadableClock.hpp"

namespace RawIO {
namespace {

using bw_selftest::TemporaryCStringView;
using bw_test::makePipe;
using bw_test::putBytes;

// A directory that exists and an entry it does not hold; nothing is created.
constexpr const char* kDirectory = "/";
constexpr const char* kMissing = "bw-selftest-no-such-entry";

TEST(UnreadableTimeoutClock, IsInvalidAndHasNoTimeLeftEvenOnceTheClockWorks) {
    auto unreadable = std::make_unique<bw_test::UnreadableClock>();
    const TimeoutClock clock;
    EXPECT_FALSE(clock.isValid());
    EXPECT_EQ(-1, clock.elapsed());
    EXPECT_EQ(0, clock.remaining(100000));
    unreadable.reset();
    EXPECT_EQ(-1, clock.elapsed());
    EXPECT_EQ(0, clock.remaining(100000));
}

TEST(UnreadableTimeoutClock, FailingLaterLeavesNoTimeLeft) {
    const TimeoutClock clock;
    ASSERT_TRUE(clock.isValid());
    const bw_test::UnreadableClock unreadable;
    EXPECT_EQ(-1, clock.elapsed());
    EXPECT_EQ(0, clock.remaining(100000));
}

TEST(UnreadableTimeoutClock, TimedTransfersGiveNoTimerWithoutTouchingTheDescriptor) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "data");
    char got[4] = {};
    Result read = Result::OK;
    Result written = Result::OK;
    {
        const bw_test::UnreadableClock unreadable;
        read = readWithTimeout(pipe.readEnd.get(), got, sizeof got, 100);
        written = writeWithTimeout(pipe.writeEnd.get(), "more", 4, 100);
    }
    EXPECT_EQ(Result::NoTimer, read);
    EXPECT_EQ(Result::NoTimer, written);
    char all[16] = {};
    EXPECT_EQ(4U, readSomeWithin(pipe.readEnd.get(), all, sizeof all, 0));
    EXPECT_EQ("data", std::string(all, 4));
}

// The message of the exception that `call` raises, or "" when it raises none.
template <typename Call>
std::string clockFailureOf(Call call) {
    try {
        const bw_test::UnreadableClock unreadable;
        call();
    } catch (const Exception& e) {
        EXPECT_EQ(0, e.errorNumber);
        return e.what();
    }
    return "";
}

TEST(UnreadableTimeoutClock, ThrowingTransfersRaiseTheClockError) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "data");
    char got[4] = {};
    const int in = pipe.readEnd.get();
    const int out = pipe.writeEnd.get();
    EXPECT_EQ("Error getting monotonic clock",
              clockFailureOf([&] { (void)readAtLeast(in, got, 1, sizeof got, 100); }));
    EXPECT_EQ("Error getting monotonic clock",
              clockFailureOf([&] { (void)writeAtLeast(out, "x", 1, 1, 100); }));
    EXPECT_EQ("Error getting monotonic clock",
              clockFailureOf([&] { (void)readFullWithin(in, got, sizeof got, 100); }));
}

TEST(UnreadableTimeoutClock, FileWaitsWithADeadlineCannotStart) {
    Result result = Result::OK;
    {
        const bw_test::UnreadableClock unreadable;
        result = awaitFile(kMissing, kDirectory, 100);
    }
    EXPECT_EQ(Result::NoTimer, result);
    EXPECT_EQ("Error getting monotonic clock", clockFailureOf([] {
                  (void)awaitFileOrThrow(kDirectory, TemporaryCStringView(kMissing), 100);
              }));
}

TEST(UnreadableTimeoutClock, FileWaitsThatNeedNoClockStillWork) {
    Result present = Result::Other;
    bool once = true;
    {
        const bw_test::UnreadableClock unreadable;
        present = awaitFile("tmp", kDirectory, 100);
        once = awaitFileOrThrow(kDirectory, TemporaryCStringView(kMissing), 0);
    }
    EXPECT_EQ(Result::OK, present);
    EXPECT_FALSE(once);
}

}  // namespace
}  // namespace RawIO
