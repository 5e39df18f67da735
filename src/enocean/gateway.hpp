// The serial link to the hub's EnOcean radio module: finds and configures the UART, sends
// ESP3 packets and waits for the module's RESPONSE. Never blocks: the descriptor is
// non-blocking and every wait is made of 1 ms sleeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "enocean/packet.hpp"
#include "enocean/receiver.hpp"
#include "util/milliclock.hpp"

namespace bw_selftest {

class Gateway {
  public:
    using State = FrameReceiver::State;

    static constexpr std::uint32_t kFirstRetryDelayMs = 5000;
    static constexpr std::uint32_t kLaterRetryDelayMs = 120000;
    static constexpr std::uint64_t kResponseTimeoutMs = 100;
    // Nobody reads the queue back; the bound keeps a chatty radio from growing it for ever.
    static constexpr std::size_t kMaxQueuedPackets = 256;

    // Minimum pauses between automatic re-probes: before the first, and between later ones.
    struct RetryDelays {
        std::uint32_t first = kFirstRetryDelayMs;
        std::uint32_t later = kLaterRetryDelayMs;
    };

    // Probes the device paths once; a missing module leaves the gateway closed.
    Gateway();
    explicit Gateway(const RetryDelays& delays);
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;
    ~Gateway();

    // True when a device is open afterwards. With `retry`, probes only when the current
    // re-probe interval has passed since the last probe.
    [[nodiscard]] bool openGateway(bool retry);
    bool isOpen() const { return fd >= 0; }

    // True when the whole frame was written.
    [[nodiscard]] bool sendNoWait(const Packet& packet);
    // One read of whatever the device has; the number of bytes added (0 also on error).
    std::uint32_t readToBuffer();
    // Takes in and files everything that can be read now.
    void receivePackets();
    // Waits up to 100 ms for a RESPONSE filed since the last send.
    [[nodiscard]] bool awaitResponsePacket();
    // Sends, waits and reports on standard output; the response code, or -1.
    int sendPacket(const Packet& packet);
    // A copy of the response, or an empty RESPONSE when none came.
    Packet sendAndAwaitResponse(const Packet& packet);

    std::size_t queuedPacketCount() const { return packetQueue.size(); }
    // The oldest queued packet; the empty RESPONSE while the queue is empty, so that a
    // careless reader never touches memory that is not there.
    const Packet& frontPacket() const;
    // Drops the oldest queued packet; nothing when the queue is empty.
    void popPacket();

  private:
    void handlePacket(const Packet& packet);

    int fd = -1;
    MilliClock retryClock;
    std::uint32_t retryDelayMs;
    std::uint32_t laterRetryDelayMs;
    bool responseReceived = false;
    Packet lastResponse;
    int responseCode = 0;
    FrameReceiver receiver;
    std::deque<Packet> packetQueue;
};

}  // namespace bw_selftest
