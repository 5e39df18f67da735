// Stopwatch in milliseconds on the monotonic clock.
#pragma once

#include <cstdint>

namespace bw_selftest {

class MilliClock {
  public:
    MilliClock();

    void restart();
    std::uint64_t elapsed() const;
    std::uint64_t lapElapsed() const;
    std::uint64_t lap();

    // Milliseconds on CLOCK_MONOTONIC, or kUnreadable when the clock cannot be read.
    static std::uint64_t now();

    // Stands for a failed reading. A count that involves one is the largest count, so that a
    // wait measured with the clock is over at once instead of never ending.
    static constexpr std::uint64_t kUnreadable = UINT64_MAX;

  private:
    std::uint64_t start;
    std::uint64_t lapStart;
};

}  // namespace bw_selftest
