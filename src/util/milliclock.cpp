// Stopwatch in milliseconds on the monotonic clock.
#include "util/milliclock.hpp"

#include <time.h>

namespace bw_selftest {

namespace {
std::uint64_t lastReading = 0;
}

std::uint64_t MilliClock::now() {
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) {
        return lastReading;
    }
    const std::uint64_t reading = static_cast<std::uint64_t>(ts.tv_sec) * 1000U +
                                  static_cast<std::uint64_t>(ts.tv_nsec) / 1000000U;
    lastReading = reading;
    return reading;
}

MilliClock::MilliClock() : start(now()), lapStart(start) {}

void MilliClock::restart() {
    start = now();
    lapStart = start;
}

// A reading below the start (only after a clock failure) counts as no time passed.
std::uint64_t MilliClock::elapsed() const {
    const std::uint64_t t = now();
    return t > start ? t - start : 0;
}

std::uint64_t MilliClock::lapElapsed() const {
    const std::uint64_t t = now();
    return t > lapStart ? t - lapStart : 0;
}

std::uint64_t MilliClock::lap() {
    const std::uint64_t t = now();
    const std::uint64_t lapTime = t > lapStart ? t - lapStart : 0;
    lapStart = t;
    return lapTime;
}

}  // namespace bw_selftest
