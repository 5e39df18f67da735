// Probing and configuring the UART, sending, and waiting for the module's answers.
#include "enocean/gateway.hpp"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace bw_selftest {

namespace {

// The on-board UART first, then a USB stick.
constexpr const char* kDevicePaths[] = {"/dev/ttyAMA0", "/dev/ttyUSB0"};
constexpr useconds_t kPollStepUs = 1000;

void reportSetupError(const char* path, int error) {
    std::cerr << "EnOcean: An error occurred while setting up gateway device " << path << ": "
              << std::strerror(error) << std::endl;
}

// 57600 baud, 8N1, raw; reads return at once (VMIN = VTIME = 0), and closing must not
// hang up the module.
bool configureSerial(int fd, const char* path) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        reportSetupError(path, errno);
        return false;
    }
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    settings.c_cflag |= static_cast<tcflag_t>(CLOCAL | CREAD);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    ::cfsetispeed(&settings, B57600);
    ::cfsetospeed(&settings, B57600);
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        reportSetupError(path, errno);
        return false;
    }
    return true;
}

// The configured descriptor, or -1 after reporting why not.
int openDevice(const char* path) {
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        std::cerr << "EnOcean: An error occurred while opening gateway device " << path << ": "
                  << std::strerror(error) << std::endl;
        return -1;
    }
    if (!configureSerial(fd, path)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

Gateway::Gateway() : Gateway(RetryDelays{}) {}

Gateway::Gateway(const RetryDelays& delays)
    : retryDelayMs(delays.first),
      laterRetryDelayMs(delays.later),
      lastResponse(PacketType::RESPONSE, 0, 0) {
    (void)openGateway(false);  // a missing module is reported and retried later
}

Gateway::~Gateway() {
    if (fd >= 0) {
        ::close(fd);
    }
}

bool Gateway::openGateway(bool retry) {
    if (fd >= 0) {
        return true;
    }
    if (retry) {
        if (retryClock.elapsed() < retryDelayMs) {
            return false;
        }
        retryDelayMs = laterRetryDelayMs;
    }
    bool found = false;
    for (const char* path : kDevicePaths) {
        if (fd >= 0) {
            break;
        }
        if (::access(path, F_OK) != 0) {
            continue;
        }
        found = true;
        fd = openDevice(path);
    }
    retryClock.restart();
    if (fd >= 0) {
        return true;
    }
    if (!found) {
        std::cerr << "EnOcean: Gateway::openGateway(): No gateway-devices found. Retrying in "
                  << retryDelayMs << " ms." << std::endl;
    } else {
        std::cerr << "EnOcean: Gateway::openGateway(): Unable to open any gateway devices. "
                     "Retrying in "
                  << retryDelayMs << " ms." << std::endl;
    }
    return false;
}

bool Gateway::sendNoWait(const Packet& packet) {
    if (fd < 0) {
        return false;
    }
    if (packet.dataLength() == 0) {
        std::cerr << "EnOcean: Gateway::sendNoWait: Attempted to send packet with no data."
                  << std::endl;
        return false;
    }
    responseReceived = false;
    const std::uint32_t total = packet.totalLength();
    std::uint32_t sent = 0;
    while (sent < total) {
        const ssize_t written = ::write(fd, packet.frame() + sent, total - sent);
        if (written <= 0) {
            const int error = errno;
            std::cerr << "EnOcean: Gateway::sendNoWait: An error occurred while writing to "
                         "gateway device: "
                      << std::strerror(error) << std::endl;
            return false;
        }
        sent += static_cast<std::uint32_t>(written);
        if (sent < total) {
            ::usleep(kPollStepUs);
        }
    }
    return true;
}

std::uint32_t Gateway::readToBuffer() {
    return receiver.fill([this](std::uint8_t* destination, std::uint32_t room) -> std::uint32_t {
        const ssize_t count = ::read(fd, destination, room);
        if (count >= 0) {
            return static_cast<std::uint32_t>(count);
        }
        const int error = errno;
        if (error != EAGAIN) {
            std::cerr << "EnOcean: Gateway::readToBuffer(): IO-Error while reading from "
                         "gateway-device: "
                      << std::strerror(error) << std::endl;
        }
        return 0;
    });
}

void Gateway::receivePackets() {
    if (!openGateway(true)) {
        return;
    }
    receiver.run([this] { return readToBuffer(); },
                 [this](const std::uint8_t* frame, std::uint32_t length) {
                     handlePacket(Packet(frame, length));
                 });
}

void Gateway::handlePacket(const Packet& packet) {
    if (packet.packetType() == PacketType::RESPONSE) {
        lastResponse = packet;
        responseReceived = true;
        responseCode = packet.dataLength() > 0 ? packet.data()[0] : -1;
        return;
    }
    if (packetQueue.size() >= kMaxQueuedPackets) {
        packetQueue.pop_front();
    }
    packetQueue.push_back(packet);
}

bool Gateway::awaitResponsePacket() {
    const MilliClock clock;
    receivePackets();
    while (!responseReceived && clock.elapsed() < kResponseTimeoutMs) {
        ::usleep(kPollStepUs);
        receivePackets();
    }
    if (!responseReceived) {
        std::cerr << "EnOcean: Gateway::awaitResponsePacket: Timed out waiting for response "
                     "from gateway."
                  << std::endl;
    }
    return responseReceived;
}

int Gateway::sendPacket(const Packet& packet) {
    if (!sendNoWait(packet)) {
        std::cout << "EnOcean: IO-error when sending packet " << packet << "." << std::endl;
        return -1;
    }
    if (!awaitResponsePacket()) {
        std::cout << "EnOcean: No response when sending packet " << packet << "." << std::endl;
        return -1;
    }
    std::cout << "EnOcean: sending " << packet << ", sent. Response code: " << responseCode
              << std::endl;
    return responseCode;
}

Packet Gateway::sendAndAwaitResponse(const Packet& packet) {
    if (sendNoWait(packet) && awaitResponsePacket()) {
        return lastResponse;
    }
    return Packet(PacketType::RESPONSE, 0, 0);
}

const Packet& Gateway::frontPacket() const {
    static const Packet empty(PacketType::RESPONSE, 0, 0);
    return packetQueue.empty() ? empty : packetQueue.front();
}

void Gateway::popPacket() {
    if (!packetQueue.empty()) {
        packetQueue.pop_front();
    }
}

}  // namespace bw_selftest
