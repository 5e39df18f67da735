// Makes the monotonic clock unreadable for a while: this program's clock_gettime.
#include "support/UnreadableClock.hpp"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<bool> clockFails{false};

}  // namespace

// Replaces the C library's for the whole program, the code under test included.
extern "C" int clock_gettime(clockid_t clock, timespec* reading) noexcept {
    if (clockFails.load()) {
        errno = EINVAL;
        return -1;
    }
    // With a 64-bit time_t on a 32-bit target (the hubs' build), <time.h> names this
    // definition __clock_gettime64, and only the 64-bit call fills its timespec.
#if defined(SYS_clock_gettime64) && defined(__USE_TIME_BITS64)
    return static_cast<int>(::syscall(SYS_clock_gettime64, clock, reading));
#else
    return static_cast<int>(::syscall(SYS_clock_gettime, clock, reading));
#endif
}

namespace bw_test {

UnreadableClock::UnreadableClock() {
    clockFails.store(true);
}

UnreadableClock::~UnreadableClock() {
    clockFails.store(false);
}

}  // namespace bw_test
