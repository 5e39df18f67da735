// The EnOcean test: opens the radio module's UART, reads its base ID and has it send one
// radio telegram.
#pragma once

#include <functional>

#include "Tests/Test.hpp"
#include "enocean/gateway.hpp"
#include "enocean/packet.hpp"

namespace bw_selftest {
namespace Tests {

// 4BS telegram DE AD BE EF from sender 0 to DEADBEEF; built once for the whole run.
extern const Packet testTelegram;

class EnOcean : public Test {
  public:
    static constexpr unsigned kRetries = 4;
    static constexpr unsigned kRetryPauseSeconds = 7;

    using Step = bool (*)(Gateway& gateway);
    // Waits the given number of seconds between attempts.
    using Pause = std::function<void(unsigned seconds)>;

    explicit EnOcean(CStringLiteralView name) : Test(name) {}

    [[nodiscard]] bool run() override;

    // The whole test, with `pause` standing in for the sleep between attempts.
    static bool runWith(const Pause& pause);
    // Runs `step` up to kRetries + 1 times, pausing between attempts.
    static bool withRetries(Step step, Gateway& gateway, const Pause& pause);
    static bool openStep(Gateway& gateway);
    static bool requestBaseIdStep(Gateway& gateway);
    static bool sendTelegramStep(Gateway& gateway);
    static bool printOK();
};

}  // namespace Tests
}  // namespace bw_selftest
