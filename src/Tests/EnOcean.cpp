// The EnOcean test and its retry policy.
#include "Tests/EnOcean.hpp"

#include <unistd.h>

#include <cstring>
#include <iostream>

#include "enocean/Address.hpp"

namespace bw_selftest {
namespace Tests {

namespace {

constexpr std::uint8_t kTestUserData[] = {0xDE, 0xAD, 0xBE, 0xEF};
constexpr Address kTestDestination = 0xEFBEADDE;  // wire bytes DE AD BE EF

// A base-ID answer: return code and base ID, plus the number of changes still allowed.
constexpr std::uint32_t kBaseIdDataLength = 5;
constexpr std::uint32_t kBaseIdOptionalLength = 1;
constexpr std::uint8_t kRetOk = 0;

void sleepSeconds(unsigned seconds) {
    ::sleep(seconds);
}

}  // namespace

const Packet testTelegram(RORG_4BS, kTestUserData, sizeof kTestUserData, kNoAddress,
                          kTestDestination);

bool EnOcean::run() {
    return runWith(&sleepSeconds);
}

bool EnOcean::runWith(const Pause& pause) {
    Gateway gateway;
    if (!withRetries(&openStep, gateway, pause)) {
        return false;
    }
    if (!withRetries(&requestBaseIdStep, gateway, pause)) {
        return false;
    }
    return withRetries(&sendTelegramStep, gateway, pause);
}

bool EnOcean::withRetries(Step step, Gateway& gateway, const Pause& pause) {
    for (unsigned attempt = 1; attempt <= kRetries; ++attempt) {
        if (step(gateway)) {
            return true;
        }
        std::cout << "\nRetry " << attempt << " of " << kRetries << " in " << kRetryPauseSeconds
                  << "s\n"
                  << std::endl;
        pause(kRetryPauseSeconds);
    }
    return step(gateway);
}

bool EnOcean::openStep(Gateway& gateway) {
    std::cout << "Opening EnOcean gateway UART device: ";
    if (!gateway.openGateway(false)) {
        return false;
    }
    return printOK();
}

bool EnOcean::requestBaseIdStep(Gateway& gateway) {
    std::cout << "Requesting BaseID: ";
    // Whatever came in meanwhile is filed first, so a stale RESPONSE is not taken as the answer.
    gateway.receivePackets();
    const std::uint8_t command = CO_RD_IDBASE;
    const Packet request(PacketType::COMMON_COMMAND, &command, 1, nullptr, 0);
    const Packet response = gateway.sendAndAwaitResponse(request);
    if (response.dataLength() != kBaseIdDataLength ||
        response.optionalLength() != kBaseIdOptionalLength) {
        return false;
    }
    (void)printOK();
    Address baseId = kNoAddress;
    std::memcpy(&baseId, response.data() + 1, sizeof baseId);
    std::cout << "BaseID = 0x" << addressToString(baseId) << ", "
              << static_cast<unsigned>(response.optionalData()[0]) << " changes left\n"
              << std::endl;
    return true;
}

bool EnOcean::sendTelegramStep(Gateway& gateway) {
    std::cout << "Sending a packet: ";
    if (gateway.sendPacket(testTelegram) != kRetOk) {
        return false;
    }
    return printOK();
}

bool EnOcean::printOK() {
    std::cout << "OK." << std::endl;
    return true;
}

}  // namespace Tests
}  // namespace bw_selftest
