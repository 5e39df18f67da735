#include "util/milliclock.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

namespace bw_selftest {
namespace {

TEST(MilliClock, StartsNearZeroAndNeverDecreases) {
    MilliClock clock;
    const std::uint64_t first = clock.elapsed();
    EXPECT_LT(first, 50U);
    std::uint64_t previous = first;
    for (int i = 0; i < 1000; ++i) {
        const std::uint64_t now = clock.elapsed();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(MilliClock, MeasuresSleepsAndRestarts) {
    MilliClock clock;
    ::usleep(30000);
    const std::uint64_t slept = clock.elapsed();
    EXPECT_GE(slept, 30U);
    EXPECT_LT(slept, 2000U);
    clock.restart();
    EXPECT_LT(clock.elapsed(), slept);
}

TEST(MilliClock, LapsMeasureFromTheLastLap) {
    MilliClock clock;
    ::usleep(100000);
    const std::uint64_t firstLap = clock.lap();
    EXPECT_GE(firstLap, 100U);
    ::usleep(20000);
    // Counted from the first lap, not from the start: below firstLap + 20 unless the
    // machine stalled for longer than the whole first lap.
    const std::uint64_t sinceLap = clock.lapElapsed();
    EXPECT_GE(sinceLap, 20U);
    EXPECT_LT(sinceLap, firstLap + 20);
    const std::uint64_t secondLap = clock.lap();
    EXPECT_GE(secondLap, sinceLap);
    EXPECT_LT(secondLap, firstLap + 20);
    EXPECT_GE(clock.elapsed(), firstLap + secondLap);
}

}  // namespace
}  // namespace bw_selftest
