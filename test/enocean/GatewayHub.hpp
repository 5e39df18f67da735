// Shared pieces of the gateway tests: a sandboxed hub with a fresh /dev, and polling.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "enocean/gateway.hpp"
#include "enocean/packet.hpp"
#include "sandbox/Sandbox.hpp"

namespace bw_selftest::gateway_test {

using std::chrono::milliseconds;

class GatewayLink : public bw_sim::SandboxTest {
  protected:
    // Runs `body` in a sandbox whose /dev has no UART until a test makes one.
    static void inHub(const std::function<void()>& body, milliseconds limit = milliseconds(20000)) {
        bw_sim::runInSandbox(
            [&] {
                bw_sim::sandbox::freshDev();
                body();
            },
            limit);
    }
};

inline Packet idBaseRequest() {
    const std::uint8_t command = CO_RD_IDBASE;
    return Packet(PacketType::COMMON_COMMAND, &command, 1, nullptr, 0);
}

inline std::string noDevicesLine(unsigned retryMs) {
    return "EnOcean: Gateway::openGateway(): No gateway-devices found. Retrying in " +
           std::to_string(retryMs) + " ms.\n";
}

// Calls receivePackets every millisecond until `done` says so or `limit` passes.
inline bool pump(Gateway& gateway, const std::function<bool()>& done, milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        gateway.receivePackets();
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        ::usleep(1000);
    }
}

inline long long millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace bw_selftest::gateway_test
