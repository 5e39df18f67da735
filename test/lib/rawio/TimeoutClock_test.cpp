#include "lib/rawio/TimeoutClock.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <limits>

namespace RawIO {
namespace {

TEST(TimeoutClock, RemainingCountsDownAndStopsAtZero) {
    const TimeoutClock clock;
    ASSERT_TRUE(clock.isValid());
    const std::int64_t atStart = clock.remaining(100);
    EXPECT_LE(atStart, 100);
    EXPECT_GE(atStart, 80);
    ::usleep(150000);
    EXPECT_GE(clock.elapsed(), 150);
    EXPECT_EQ(0, clock.remaining(100));
}

TEST(TimeoutClock, NegativeTimeoutsAreAlreadyUsedUp) {
    const TimeoutClock clock;
    EXPECT_EQ(0, clock.remaining(-1));
    EXPECT_EQ(0, clock.remaining(std::numeric_limits<std::int64_t>::min()));
    EXPECT_GT(clock.remaining(std::numeric_limits<std::int64_t>::max()), 0);
}

TEST(TimeoutClock, ElapsedNeverDecreases) {
    const TimeoutClock clock;
    std::int64_t previous = clock.elapsed();
    EXPECT_GE(previous, 0);
    for (int i = 0; i < 1000; ++i) {
        const std::int64_t now = clock.elapsed();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

}  // namespace
}  // namespace RawIO
