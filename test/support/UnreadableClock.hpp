// Makes the monotonic clock unreadable for a while. A test program that links this gets its
// own clock_gettime, which fails with EINVAL while an UnreadableClock is alive and otherwise
// asks the kernel. Link it only into programs whose every test expects that.
#pragma once

namespace bw_test {

class UnreadableClock {
  public:
    UnreadableClock();
    ~UnreadableClock();
    UnreadableClock(const UnreadableClock&) = delete;
    UnreadableClock& operator=(const UnreadableClock&) = delete;
};

}  // namespace bw_test
