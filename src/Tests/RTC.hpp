// The RTC test: brings the PCF8523 on I2C bus 1 up from whatever state it is found in and
// passes when the kernel's RTC reports a time.
#pragma once

#include <functional>
#include <string>

#include "Tests/Test.hpp"
#include "lib/rawio/RawIO.hpp"

namespace bw_selftest {
namespace Tests {

// "Reading <since_epoch path>" and its outcome; on success `out` holds the text, trimmed.
RawIO::Result readSinceEpoch(std::string& out);

// Seconds since the epoch, in decimal, as a UTC time text. False (and `out` untouched) when
// the text is not wholly one number in range or the time cannot be formatted.
bool formatSinceEpoch(const std::string& text, std::string& out);

class RTC : public Test {
  public:
    // A freshly registered chip may take this long to show up as /dev/rtc0.
    static constexpr int kDeviceWaitMs = 180000;
    static constexpr unsigned kRetries = 3;
    static constexpr unsigned kRetryPauseSeconds = 2;

    // Waits the given number of seconds between reads.
    using Pause = std::function<void(unsigned seconds)>;

    explicit RTC(CStringLiteralView name) : Test(name) {}

    [[nodiscard]] bool run() override;

    // The whole test, with other bounds for the device wait and the pause between retries.
    static bool runWith(int deviceWaitMs, const Pause& pause);
};

}  // namespace Tests
}  // namespace bw_selftest
