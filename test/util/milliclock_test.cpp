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
    ::usleep(20000);
    const std::uint64_t firstLap = clock.lap();
    EXPECT_GE(firstLap, 20U);
    EXPECT_LT(clock.lapElapsed(), firstLap + 1);
    EXPECT_GE(clock.elapsed(), firstLap);
}

}  // namespace
}  // namespace bw_selftest
