// The gateway's receiver over the pseudo-terminal: long frames, stray sync bytes and long
// noisy streams.
#include <gtest/gtest.h>
#include <time.h>

#include <random>
#include <vector>

#include "GatewayHub.hpp"
#include "support/Capture.hpp"
#include "uart/Module.hpp"

namespace bw_selftest::gateway_test {
namespace {

using bw_sim::uart::Answer;
using bw_sim::uart::Bytes;
using bw_sim::uart::Module;
using bw_sim::uart::Scenario;
namespace esp3 = bw_sim::uart::esp3;

Bytes frameBytes(const Packet& packet) {
    return Bytes(packet.frame(), packet.frame() + packet.totalLength());
}

// Takes everything queued so far.
void drain(Gateway& gateway, std::vector<Bytes>& into) {
    while (gateway.queuedPacketCount() > 0) {
        into.push_back(frameBytes(gateway.frontPacket()));
        gateway.popPacket();
    }
}

// A header that passes its CRC and announces `dataLength` bytes that never come.
Bytes strayHeader(std::uint16_t dataLength) {
    Bytes header{0x55, static_cast<std::uint8_t>(dataLength >> 8),
                 static_cast<std::uint8_t>(dataLength & 0xFF), 0x00, 0x01};
    header.push_back(esp3::crc8(header.data() + 1, 4));
    return header;
}

TEST_F(GatewayLink, MaximalFrameAfterLotsOfGarbageIsFound) {
    inHub([] {
        Module module(Scenario{});
        Gateway gateway;
        Bytes garbage(150000);
        for (std::size_t i = 0; i < garbage.size(); ++i) {
            garbage[i] = static_cast<std::uint8_t>(i % 0x50);  // no sync byte
        }
        const Bytes maximal =
            esp3::encode({PacketType::RADIO_ERP1, Bytes(0xFFFF, 0x55), Bytes(0xFF, 0xAA)});
        module.send(garbage);
        module.send(maximal);
        std::vector<Bytes> found;
        EXPECT_TRUE(pump(
            gateway,
            [&] {
                drain(gateway, found);
                return !found.empty();
            },
            milliseconds(5000)));
        ASSERT_EQ(1U, found.size());
        EXPECT_EQ(maximal, found[0]);
        EXPECT_EQ(0, gateway.sendPacket(idBaseRequest()));
    });
}

TEST_F(GatewayLink, StraySyncByteDoesNotHideTheResponseBehindIt) {
    inHub([] {
        Scenario scenario;
        Answer stray;
        stray.before = strayHeader(500);
        scenario.baseIdRequests.first = {stray};
        Module module(scenario);
        Gateway gateway;
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_TRUE(gateway.sendNoWait(idBaseRequest()));
        bool answered = false;
        const bw_test::Captured seen = bw_test::capture([&] {
            for (int attempt = 0; attempt < 5 && !answered; ++attempt) {
                answered = gateway.awaitResponsePacket();
            }
        });
        const long long waited = millisecondsSince(sent);
        EXPECT_TRUE(answered) << seen.err;
        EXPECT_GE(waited, 95);  // whole milliseconds
        EXPECT_LT(waited, 500);
        // Later exchanges are not held up.
        EXPECT_EQ(0, gateway.sendPacket(idBaseRequest()));
    });
}

TEST_F(GatewayLink, FindsEveryFrameInALongNoisyStream) {
    inHub([] {
        std::mt19937 random(1);
        Bytes stream;
        std::vector<Bytes> planted;
        for (int i = 0; i < 200; ++i) {
            const std::size_t garbage = random() % 1500;
            for (std::size_t j = 0; j < garbage; ++j) {
                stream.push_back(random() % 8 == 0 ? 0x55 : static_cast<std::uint8_t>(random()));
            }
            Bytes user(1 + random() % 14);
            for (std::uint8_t& byte : user) {
                byte = static_cast<std::uint8_t>(random());
            }
            planted.push_back(esp3::encode(
                esp3::radioTelegram(RORG_4BS, user, {0, 0, 0, static_cast<std::uint8_t>(i)},
                                    {0xFF, 0xFF, 0xFF, 0xFF}, static_cast<std::uint8_t>(i))));
            stream.insert(stream.end(), planted.back().begin(), planted.back().end());
        }
        // No frame here is a chance product of the noise, nor hidden by one: an independent
        // decoder, given enough quiet bytes at the end, finds exactly the planted frames.
        Bytes padded = stream;
        padded.resize(stream.size() + Packet::kMaxFrameLength, 0x00);
        std::vector<Bytes> reference;
        esp3::Decoder decoder;
        for (const esp3::Frame& frame : decoder.feed(padded)) {
            reference.push_back(esp3::encode(frame));
        }
        ASSERT_EQ(planted, reference);

        Module module(Scenario{});
        Gateway gateway;
        module.send(stream);
        std::vector<Bytes> found;
        // The last frames may sit inside a candidate announced by the noise; the time-out of
        // an incomplete frame brings them out.
        pump(
            gateway,
            [&] {
                drain(gateway, found);
                return found.size() >= planted.size();
            },
            milliseconds(10000));
        ::usleep(150000);
        gateway.receivePackets();
        drain(gateway, found);
        EXPECT_EQ(planted, found);
    });
}

double processCpuMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The simulated module must wait for a full line without burning a core: the machines that
// run these tests are small and shared.
TEST_F(GatewayLink, SimulatedModuleWaitsIdlyWhileTheLineIsFull) {
    inHub([] {
        Module module(Scenario{});
        module.send(Bytes(200000, 0x11));  // far more than the line holds; nobody reads
        ::usleep(50000);
        const double before = processCpuMilliseconds();
        ::usleep(400000);
        EXPECT_LT(processCpuMilliseconds() - before, 100.0);
    });
}

}  // namespace
}  // namespace bw_selftest::gateway_test
