// Shared pieces of the gateway tests: a sandboxed hub with a fresh /dev, and polling.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "enocean/gateway.hpp"
#include "enocean/packet.hpp"
#include "sandbox/Sandbox.hpp"
#include "uart/UartTest.hpp"

namespace bw_selftest::gateway_test {

using std::chrono::milliseconds;

class GatewayLink : public bw_sim::uart::UartTest {};

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

// This process's descriptors that were opened at `path`.
inline std::vector<int> descriptorsOn(const std::string& path) {
    std::vector<int> found;
    DIR* const directory = ::opendir("/proc/self/fd");
    if (directory == nullptr) {
        ADD_FAILURE() << "cannot list /proc/self/fd";
        return found;
    }
    while (const dirent* entry = ::readdir(directory)) {
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
        if (length > 0 && path == std::string(target, static_cast<std::size_t>(length))) {
            found.push_back(std::stoi(entry->d_name));
        }
    }
    ::closedir(directory);
    return found;
}

inline long long millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace bw_selftest::gateway_test
