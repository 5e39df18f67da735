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

    // Milliseconds on CLOCK_MONOTONIC. Should the clock be unreadable, the last good reading
    // stands in, so a stopwatch never runs backwards or wraps around.
    static std::uint64_t now();

  private:
    std::uint64_t start;
    std::uint64_t lapStart;
};

}  // namespace bw_selftest
