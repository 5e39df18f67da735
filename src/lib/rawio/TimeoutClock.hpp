// Deadline clock of the timed operations: milliseconds on the monotonic clock.
#pragma once

#include <cstdint>

namespace RawIO {

class TimeoutClock {
  public:
    // Reads the clock now; an unreadable clock leaves the object invalid.
    TimeoutClock();

    bool isValid() const { return start >= 0; }

    // Milliseconds since construction; -1 when the clock could not be read.
    std::int64_t elapsed() const;

    // What is left of `timeoutMs`: never negative, 0 when the clock fails. A negative
    // timeout therefore counts as used up once time has been measured.
    std::int64_t remaining(std::int64_t timeoutMs) const;

  private:
    std::int64_t start;
};

}  // namespace RawIO
