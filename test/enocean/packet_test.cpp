#include "enocean/packet.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <sstream>
#include <vector>

#include "uart/Esp3.hpp"

namespace bw_selftest {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace esp3 = bw_sim::uart::esp3;

const Bytes kIdBaseRequest{0x55, 0x00, 0x01, 0x00, 0x05, 0x70, 0x08, 0x38};
const Bytes kTelegram{0x55, 0x00, 0x0A, 0x07, 0x01, 0xEB, 0xA5, 0xDE, 0xAD, 0xBE, 0xEF, 0x00,
                      0x00, 0x00, 0x00, 0x00, 0x03, 0xDE, 0xAD, 0xBE, 0xEF, 0xFF, 0x00, 0x09};
const Bytes kEmptyResponse{0x55, 0x00, 0x00, 0x00, 0x02, 0x0E, 0x00};
const std::uint8_t kDeadBeef[] = {0xDE, 0xAD, 0xBE, 0xEF};

Bytes frameOf(const Packet& packet) {
    return Bytes(packet.frame(), packet.frame() + packet.totalLength());
}

std::string describe(const Packet& packet) {
    std::ostringstream out;
    out << packet;
    return out.str();
}

Packet received(const Bytes& frame) {
    return Packet(frame.data(), static_cast<std::uint32_t>(frame.size()));
}

// A telegram as the module reports it, with the signal strength it measured.
Packet receivedTelegram(bw_sim::uart::Id sender, bw_sim::uart::Id destination, std::uint8_t dBm,
                        const Bytes& userData = {0x01, 0x02, 0x03, 0x04}) {
    return received(
        esp3::encode(esp3::radioTelegram(RORG_4BS, userData, sender, destination, dBm)));
}

TEST(Packet, BuildsTheBaseIdRequest) {
    const std::uint8_t command = CO_RD_IDBASE;
    const Packet request(PacketType::COMMON_COMMAND, &command, 1, nullptr, 0);
    EXPECT_EQ(kIdBaseRequest, frameOf(request));
    EXPECT_EQ(1U, request.dataLength());
    EXPECT_EQ(0U, request.optionalLength());
    EXPECT_EQ(8U, request.totalLength());
    EXPECT_EQ("[05 08 ---]", describe(request));
}

TEST(Packet, BuildsTheTestTelegramAndDescribesIt) {
    const Packet telegram(RORG_4BS, kDeadBeef, 4, kNoAddress, 0xEFBEADDE);
    EXPECT_EQ(kTelegram, frameOf(telegram));
    EXPECT_EQ("[RORG=0xA5, Destaddr=0xDEADBEEF, Data=0xDEADBEEF]", describe(telegram));
}

TEST(Packet, PutsTheSenderBehindTheUserData) {
    const Packet telegram(RORG_RPS, kDeadBeef, 1, 0x04030201, kBroadcastAddress);
    const Bytes expectedData{0xF6, 0xDE, 0x01, 0x02, 0x03, 0x04, 0x00};
    EXPECT_EQ(expectedData, Bytes(telegram.data(), telegram.data() + telegram.dataLength()));
    EXPECT_TRUE(Packet::checkDataCRC(telegram.frame(), telegram.totalLength()));
    EXPECT_EQ("[RORG=0xF6, Sender=0x01020304, Data=0xDE]", describe(telegram));
}

TEST(Packet, EmptyResponseIsHeaderOnly) {
    const Packet response(PacketType::RESPONSE, 0, 0);
    EXPECT_EQ(kEmptyResponse, frameOf(response));
    EXPECT_EQ("[02 --- ---]", describe(response));
    const std::uint8_t ok = 0;
    EXPECT_EQ("[02 00 ---]", describe(Packet(PacketType::RESPONSE, &ok, 1, nullptr, 0)));
}

TEST(Packet, HeaderOnlyConstructorLeavesTheDataCrcToTheCaller) {
    Packet packet(PacketType::COMMON_COMMAND, 1, 0);
    EXPECT_EQ(0, packet.data()[0]);
    packet.data()[0] = CO_RD_IDBASE;
    EXPECT_FALSE(Packet::checkDataCRC(packet.frame(), packet.totalLength()));
    packet.updateDataCRC();
    EXPECT_EQ(kIdBaseRequest, frameOf(packet));
}

TEST(Packet, ClampsLengthsToWhatTheHeaderCanHold) {
    const Packet packet(PacketType::RADIO_ERP1, 70000, 300);
    EXPECT_EQ(0xFFFFU, packet.dataLength());
    EXPECT_EQ(0xFFU, packet.optionalLength());
    EXPECT_EQ(Packet::kMaxFrameLength, packet.totalLength());
    EXPECT_EQ(Packet::kMaxFrameLength, Packet::frameLengthFromHeader(packet.frame()));
    EXPECT_TRUE(Packet::checkHeaderCRC(packet.frame()));
}

TEST(Packet, CrcTableAgreesWithTheBitwiseCrc) {
    const Bytes header{0x00, 0x0A, 0x07, 0x01};
    EXPECT_EQ(0xEB, Packet::crc8(header.data(), header.size()));
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        Bytes bytes(static_cast<std::size_t>(round));
        for (std::uint8_t& byte : bytes) {
            byte = static_cast<std::uint8_t>(random());
        }
        ASSERT_EQ(esp3::crc8(bytes), Packet::crc8(bytes.data(), bytes.size())) << round;
    }
}

// Any stretch's CRC from two running CRCs, whatever the running CRC started from.
TEST(Packet, StretchCrcFromRunningCrcsEqualsTheDirectOne) {
    std::mt19937 random(11);
    Bytes bytes(0x40001);
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    Bytes running(bytes.size() + 1);
    running[0] = 0x5A;
    Packet::crc8Running(bytes.data(), bytes.size(), running.data());
    const std::pair<std::size_t, std::size_t> stretches[] = {
        {0, 0}, {0, 1}, {3, 4}, {0, bytes.size()}, {6, 6 + 0xFFFF + 0xFF}, {1, 0x40000}};
    for (const auto& [begin, end] : stretches) {
        EXPECT_EQ(
            Packet::crc8(bytes.data() + begin, end - begin),
            Packet::crc8Of(running[begin], running[end], static_cast<std::uint32_t>(end - begin)))
            << begin << ".." << end;
    }
    for (int round = 0; round < 500; ++round) {
        const std::size_t begin = random() % bytes.size();
        const std::size_t end = begin + random() % (bytes.size() - begin + 1);
        ASSERT_EQ(
            Packet::crc8(bytes.data() + begin, end - begin),
            Packet::crc8Of(running[begin], running[end], static_cast<std::uint32_t>(end - begin)))
            << begin << ".." << end;
    }
}

TEST(Packet, FrameChecksFailOnAnyChangedByte) {
    ASSERT_TRUE(Packet::checkHeaderCRC(kTelegram.data()));
    ASSERT_TRUE(Packet::checkDataCRC(kTelegram.data(), 24));
    EXPECT_EQ(24U, Packet::frameLengthFromHeader(kTelegram.data()));
    for (std::size_t i = 1; i <= 5; ++i) {
        for (const unsigned flip : {0x01U, 0x80U, 0xFFU}) {
            Bytes changed = kTelegram;
            changed[i] = static_cast<std::uint8_t>(changed[i] ^ flip);
            EXPECT_FALSE(Packet::checkHeaderCRC(changed.data())) << "byte " << i;
        }
    }
    for (std::size_t i = 6; i < kTelegram.size(); ++i) {
        for (const unsigned flip : {0x01U, 0x80U, 0xFFU}) {
            Bytes changed = kTelegram;
            changed[i] = static_cast<std::uint8_t>(changed[i] ^ flip);
            EXPECT_FALSE(Packet::checkDataCRC(changed.data(), 24)) << "byte " << i;
        }
    }
    EXPECT_FALSE(Packet::checkDataCRC(kTelegram.data(), 6));
}

TEST(Packet, DescribesSignalStrengthInWords) {
    const bw_sim::uart::Id sender{0x01, 0x02, 0x03, 0x04};
    const bw_sim::uart::Id broadcast{0xFF, 0xFF, 0xFF, 0xFF};
    const std::pair<std::uint8_t, const char*> cases[] = {
        {0, "0dBm (high)"},     {65, "65dBm (high)"}, {66, "66dBm (medium)"},
        {79, "79dBm (medium)"}, {80, "80dBm (low)"},  {254, "254dBm (low)"}};
    for (const auto& [dBm, power] : cases) {
        EXPECT_EQ(
            std::string("[RORG=0xA5, Sender=0x01020304, Data=0x01020304, Power=-") + power + "]",
            describe(receivedTelegram(sender, broadcast, dBm)));
    }
    EXPECT_EQ("[RORG=0xA5, Sender=0x01020304, Data=0x01020304]",
              describe(receivedTelegram(sender, broadcast, 0xFF)));
    std::ostringstream hexStream;
    hexStream << std::hex << receivedTelegram(sender, broadcast, 79);
    EXPECT_EQ("[RORG=0xA5, Sender=0x01020304, Data=0x01020304, Power=-79dBm (medium)]",
              hexStream.str());
}

TEST(Packet, LeavesOutZeroSenderAndBroadcastOrZeroDestination) {
    EXPECT_EQ("[RORG=0xA5, Data=0x0102, Power=-40dBm (high)]",
              describe(receivedTelegram({0, 0, 0, 0}, {0, 0, 0, 0}, 40, {0x01, 0x02})));
    EXPECT_EQ("[RORG=0xA5, Sender=0x00000001, Destaddr=0x0A0B0C0D, Data=0x42]",
              describe(receivedTelegram({0, 0, 0, 1}, {0x0A, 0x0B, 0x0C, 0x0D}, 0xFF, {0x42})));
}

TEST(Packet, ShortRadioPacketsGetTheGenericForm) {
    // Six data bytes are RORG, sender and status without user data: not a telegram.
    const Bytes six{0xA5, 0x01, 0x02, 0x03, 0x04, 0x00};
    const Bytes optional{0x03, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    EXPECT_EQ("[01 A50102030400 03FFFFFFFFFF00]",
              describe(received(esp3::encode({PacketType::RADIO_ERP1, six, optional}))));
    const Bytes seven{0xA5, 0x09, 0x01, 0x02, 0x03, 0x04, 0x00};
    EXPECT_EQ("[01 A5090102030400 ---]",
              describe(received(esp3::encode({PacketType::RADIO_ERP1, seven, {}}))));
    EXPECT_EQ(
        "[01 A5090102030400 03FFFF]",
        describe(received(esp3::encode({PacketType::RADIO_ERP1, seven, {0x03, 0xFF, 0xFF}}))));
}

TEST(Packet, AccessorsAnswerOnlyForTheirTelegramType) {
    const Packet fourBs =
        receivedTelegram({1, 2, 3, 4}, {5, 6, 7, 8}, 50, {0x11, 0x22, 0x33, 0x44});
    EXPECT_TRUE(fourBs.isRadioTelegram());
    EXPECT_EQ(4U, fourBs.getUserDataLength());
    EXPECT_EQ(0x11, fourBs.getUserData()[0]);
    std::uint8_t byte = 0x77;
    Address address = 0;
    ASSERT_TRUE(fourBs.getRORG(byte));
    EXPECT_EQ(RORG_4BS, byte);
    ASSERT_TRUE(fourBs.getSenderID(address));
    EXPECT_EQ("01020304", addressToString(address));
    ASSERT_TRUE(fourBs.getDestinationID(address));
    EXPECT_EQ("05060708", addressToString(address));
    ASSERT_TRUE(fourBs.getDBm(byte));
    EXPECT_EQ(50, byte);
    std::uint8_t db[4] = {};
    ASSERT_TRUE(fourBs.get4BSData(db[0], db[1], db[2], db[3]));
    EXPECT_EQ(0x11, db[0]);
    EXPECT_EQ(0x44, db[3]);
    byte = 0x77;
    EXPECT_FALSE(fourBs.getRPSData(byte));
    EXPECT_EQ(0x77, byte);
    EXPECT_FALSE(fourBs.get1BSData(byte));
    EXPECT_EQ(0x11, byte);  // written all the same

    const Packet rps(RORG_RPS, kDeadBeef, 1, kNoAddress, kNoAddress);
    ASSERT_TRUE(rps.getRPSData(byte));
    EXPECT_EQ(0xDE, byte);
    EXPECT_FALSE(rps.get4BSData(db[0], db[1], db[2], db[3]));
    const Packet oneBs(RORG_1BS, kDeadBeef, 1, kNoAddress, kNoAddress);
    EXPECT_TRUE(oneBs.get1BSData(byte));
    const Packet shortFourBs(RORG_4BS, kDeadBeef, 3, kNoAddress, kNoAddress);
    EXPECT_FALSE(shortFourBs.get4BSData(db[0], db[1], db[2], db[3]));

    const Packet response(PacketType::RESPONSE, 0, 0);
    byte = 0x77;
    EXPECT_FALSE(response.isRadioTelegram());
    EXPECT_EQ(0U, response.getUserDataLength());
    EXPECT_EQ(nullptr, response.getUserData());
    EXPECT_FALSE(response.getRORG(byte));
    EXPECT_FALSE(response.getSenderID(address));
    EXPECT_FALSE(response.getDestinationID(address));
    EXPECT_FALSE(response.getDBm(byte));
    EXPECT_FALSE(response.get1BSData(byte));
    EXPECT_EQ(0x77, byte);
}

TEST(Packet, CopiesOwnTheirFrame) {
    Packet original(RORG_4BS, kDeadBeef, 4, kNoAddress, 0xEFBEADDE);
    const Packet copy = original;
    original.data()[1] = 0;
    EXPECT_EQ(kTelegram, frameOf(copy));
    Packet assigned(PacketType::RESPONSE, 0, 0);
    assigned = copy;
    EXPECT_EQ(kTelegram, frameOf(assigned));
}

TEST(Packet, SetsTheSendingOptionalData) {
    Packet packet(PacketType::RADIO_ERP1, 7, 7);
    packet.setRadioOptionalData(0x44332211);
    const Bytes expected{0x03, 0x11, 0x22, 0x33, 0x44, 0xFF, 0x00};
    EXPECT_EQ(expected, Bytes(packet.optionalData(), packet.optionalData() + 7));
}

// Bytes placed right before an inaccessible page: reading past them crashes the test.
class GuardedBytes {
  public:
    explicit GuardedBytes(const Bytes& bytes) {
        pageSize_ = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        void* pages = ::mmap(nullptr, 2 * pageSize_, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages == MAP_FAILED) {
            throw std::runtime_error("mmap");
        }
        base_ = static_cast<std::uint8_t*>(pages);
        ::mprotect(base_ + pageSize_, pageSize_, PROT_NONE);
        data_ = base_ + pageSize_ - bytes.size();
        std::memcpy(data_, bytes.data(), bytes.size());
    }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    ~GuardedBytes() { ::munmap(base_, 2 * pageSize_); }
    const std::uint8_t* data() const { return data_; }

  private:
    std::size_t pageSize_ = 0;
    std::uint8_t* base_ = nullptr;
    std::uint8_t* data_ = nullptr;
};

TEST(Packet, ReceivedFrameTakesItsLengthsFromTheHeader) {
    Bytes longer = kTelegram;
    longer.resize(40, 0xAA);
    const Packet packet = received(longer);
    EXPECT_EQ(10U, packet.dataLength());
    EXPECT_EQ(7U, packet.optionalLength());
    EXPECT_EQ(24U, packet.totalLength());
    EXPECT_EQ(kTelegram, frameOf(packet));
}

TEST(Packet, ReceivedFrameNeverReadsOutsideItsBytes) {
    // The header announces 10 + 7 bytes, but only 12 bytes exist.
    const Bytes cut(kTelegram.begin(), kTelegram.begin() + 12);
    const GuardedBytes guarded(cut);
    const Packet packet(guarded.data(), 12);
    ASSERT_EQ(24U, packet.totalLength());
    Bytes expected = cut;
    expected.resize(24, 0);
    EXPECT_EQ(expected, frameOf(packet));
    EXPECT_EQ("[RORG=0xA5, Data=0xDEADBEEF, Power=-0dBm (high)]", describe(packet));

    const Bytes twoBytes{0x55, 0x01};
    const GuardedBytes tiny(twoBytes);
    const Packet fromTwo(tiny.data(), 2);
    EXPECT_EQ(0x100U, fromTwo.dataLength());  // the missing low byte reads as zero
    EXPECT_EQ(0x107U, fromTwo.totalLength());
    EXPECT_EQ(0, fromTwo.optionalData()[0]);

    const Packet fromNothing(nullptr, 0);
    EXPECT_EQ(7U, fromNothing.totalLength());
    EXPECT_EQ("[00 --- ---]", describe(fromNothing));
}

}  // namespace
}  // namespace bw_selftest
