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
    return static_cast<int>(::syscall(SYS_clock_gettime, clock, reading));
}

namespace bw_test {

UnreadableClock::UnreadableClock() {
    clockFails.store(true);
}

UnreadableClock::~UnreadableClock() {
    clockFails.store(false);
}

}  // namespace bw_test
