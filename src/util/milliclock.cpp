// Stopwatch in milliseconds on the monotonic clock.
#include "util/milliclock.hpp"

#include <time.h>

namespace bw_selftest {

namespace {

// From one reading to a later one.
std::uint64_t between(std::uint64_t from, std::uint64_t to) {
    if (from == MilliClock::kUnreadable || to == MilliClock::kUnreadable) {
        return MilliClock::kUnreadable;
    }
    return to > from ? to - from : 0;
}

}  // namespace

std::uint64_t MilliClock::now() {
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) {
        return kUnreadable;
    }
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000U +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000U;
}

MilliClock::MilliClock() : start(now()), lapStart(start) {}

void MilliClock::restart() {
    start = now();
    lapStart = start;
}

std::uint64_t MilliClock::elapsed() const {
    return between(start, now());
}

std::uint64_t MilliClock::lapElapsed() const {
    return between(lapStart, now());
}

std::uint64_t MilliClock::lap() {
    const std::uint64_t t = now();
    const std::uint64_t lapTime = between(lapStart, t);
    lapStart = t;
    return lapTime;
}

}  // namespace bw_selftest
