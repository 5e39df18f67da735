// Deadline clock of the timed operations: milliseconds on the monotonic clock.
#include "lib/rawio/TimeoutClock.hpp"

#include <time.h>

namespace RawIO {

namespace {

// -1 when the clock cannot be read.
std::int64_t monotonicMs() {
    timespec ts{};
    if (::clock_gettime(CLOCK_MONOTONIC, &ts) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 +
           static_cast<std::int64_t>(ts.tv_nsec) / 1000000;
}

}  // namespace

TimeoutClock::TimeoutClock() : start(monotonicMs()) {}

std::int64_t TimeoutClock::elapsed() const {
    if (start < 0) {
        return -1;
    }
    const std::int64_t now = monotonicMs();
    if (now < 0) {
        return -1;
    }
    const std::int64_t passed = now - start;
    return passed < 0 ? -1 : passed;
}

std::int64_t TimeoutClock::remaining(std::int64_t timeoutMs) const {
    const std::int64_t passed = elapsed();
    if (passed < 0) {
        return 0;
    }
    // Compared first so that no subtraction can overflow.
    return timeoutMs > passed ? timeoutMs - passed : 0;
}

}  // namespace RawIO
