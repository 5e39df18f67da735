// The stopwatch when the monotonic clock cannot be read: every wait it measures is over.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>

#include "support/UnreadableClock.hpp"
#include "util/milliclock.hpp"

namespace bw_selftest {
namespace {

constexpr std::uint64_t kLargest = UINT64_MAX;

TEST(UnreadableMilliClock, AClockStartedWithoutAReadingIsAlwaysPastItsLimit) {
    std::uint64_t elapsed = 0;
    std::uint64_t lap = 0;
    {
        const bw_test::UnreadableClock unreadable;
        MilliClock clock;
        elapsed = clock.elapsed();
        lap = clock.lap();
    }
    EXPECT_EQ(kLargest, elapsed);
    EXPECT_EQ(kLargest, lap);
}

TEST(UnreadableMilliClock, AReadingThatFailsLaterEndsTheWaitAndRestartRecovers) {
    MilliClock clock;
    ::usleep(5000);
    // What a reply wait does: it polls until the limit has passed.
    int polls = 0;
    {
        const bw_test::UnreadableClock unreadable;
        while (clock.elapsed() < 100 && polls < 1000) {
            ++polls;
        }
        EXPECT_EQ(kLargest, clock.lapElapsed());
    }
    EXPECT_EQ(0, polls);
    clock.restart();
    EXPECT_LT(clock.elapsed(), 1000U);
    EXPECT_LT(clock.lapElapsed(), 1000U);
}

}  // namespace
}  // namespace bw_selftest
