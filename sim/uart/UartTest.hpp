// Base of the tests that talk to a simulated UART: each body runs in a sandbox whose /dev
// is private, so a test can bind a pseudo-terminal at the UART's device path.
#pragma once

#include <chrono>
#include <functional>

#include "sandbox/Sandbox.hpp"

namespace bw_sim::uart {

class UartTest : public SandboxTest {
  protected:
    // Runs `body` in a sandbox whose /dev has no UART until the body makes one.
    static void inHub(const std::function<void()>& body,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(20000)) {
        runInSandbox(
            [&] {
                sandbox::freshDev();
                body();
            },
            limit);
    }
};

}  // namespace bw_sim::uart
