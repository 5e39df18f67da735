// The simulated UART and EnOcean module: its codec against known frames, and the module's
// answers and scripted faults as seen from the host side of the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "sandbox/Sandbox.hpp"
#include "uart/Esp3.hpp"
#include "uart/Module.hpp"

namespace {

using bw_sim::uart::Answer;
using bw_sim::uart::Bytes;
using bw_sim::uart::Module;
using bw_sim::uart::Scenario;
namespace esp3 = bw_sim::uart::esp3;
using std::chrono::milliseconds;

const Bytes kIdBaseRequest{0x55, 0x00, 0x01, 0x00, 0x05, 0x70, 0x08, 0x38};
const Bytes kTelegram{0x55, 0x00, 0x0A, 0x07, 0x01, 0xEB, 0xA5, 0xDE, 0xAD, 0xBE, 0xEF, 0x00,
                      0x00, 0x00, 0x00, 0x00, 0x03, 0xDE, 0xAD, 0xBE, 0xEF, 0xFF, 0x00, 0x09};
const Bytes kEmptyResponse{0x55, 0x00, 0x00, 0x00, 0x02, 0x0E, 0x00};

const esp3::Frame kIdBaseFrame{esp3::COMMON_COMMAND, {esp3::CO_RD_IDBASE}, {}};
const esp3::Frame kTelegramFrame{esp3::RADIO_ERP1,
                                 {0xA5, 0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x00, 0x00, 0x00, 0x00},
                                 {0x03, 0xDE, 0xAD, 0xBE, 0xEF, 0xFF, 0x00}};

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(Esp3Codec, EncodesTheKnownFrames) {
    EXPECT_EQ(kIdBaseRequest, esp3::encode(kIdBaseFrame));
    EXPECT_EQ(kTelegram, esp3::encode(kTelegramFrame));
    EXPECT_EQ(kEmptyResponse, esp3::encode(esp3::Frame{esp3::RESPONSE, {}, {}}));
    const Bytes header{0x00, 0x0A, 0x07, 0x01};
    EXPECT_EQ(0xEB, esp3::crc8(header));
    EXPECT_EQ(0x00, esp3::crc8(Bytes{}));
}

TEST(Esp3Codec, BuildsResponsesAndTelegramsInTheirLayout) {
    EXPECT_EQ((esp3::Frame{esp3::RESPONSE, {0x00, 0xFF, 0x9A, 0x43, 0x00}, {0x0A}}),
              esp3::response(esp3::RET_OK, {0xFF, 0x9A, 0x43, 0x00}, {0x0A}));
    const esp3::Frame telegram = esp3::radioTelegram(0xA5, {0xDE, 0xAD, 0xBE, 0xEF}, {0, 0, 0, 0},
                                                     {0xDE, 0xAD, 0xBE, 0xEF}, 0xFF);
    esp3::Frame expected = kTelegramFrame;
    expected.optional[0] = 0x01;  // as received: one sub-telegram
    EXPECT_EQ(expected, telegram);
}

TEST(Esp3Codec, DecodesFramesOutOfGarbageAndPieces) {
    const Bytes stream = concat({{0x00, 0x55, 0x13},
                                 kIdBaseRequest,
                                 {0x55, 0x55},
                                 kTelegram,
                                 kEmptyResponse,
                                 {0x55, 0x00}});
    esp3::Decoder whole;
    const std::vector<esp3::Frame> expected{kIdBaseFrame, kTelegramFrame,
                                            esp3::Frame{esp3::RESPONSE, {}, {}}};
    EXPECT_EQ(expected, whole.feed(stream));
    EXPECT_EQ(2U, whole.pendingBytes());  // a sync byte that may start a frame waits

    esp3::Decoder byByte;
    std::vector<esp3::Frame> found;
    for (const std::uint8_t byte : stream) {
        for (const esp3::Frame& frame : byByte.feed(&byte, 1)) {
            found.push_back(frame);
        }
    }
    EXPECT_EQ(expected, found);
}

TEST(Esp3Codec, RejectsAnyChangedByteAndFindsAFrameInsideARejectedOne) {
    for (std::size_t i = 1; i < kTelegram.size(); ++i) {
        Bytes corrupted = kTelegram;
        corrupted[i] ^= 0x10;
        esp3::Decoder decoder;
        EXPECT_TRUE(decoder.feed(corrupted).empty()) << "byte " << i;
    }
    // A header announcing 10 data bytes whose frame is cut short by a real one.
    Bytes cut(kTelegram.begin(), kTelegram.begin() + 8);
    esp3::Decoder decoder;
    const std::vector<esp3::Frame> expected{kIdBaseFrame};
    EXPECT_EQ(expected, decoder.feed(concat({cut, kIdBaseRequest, Bytes(20, 0)})));
}

// The host's end of the line, opened as the program opens the UART.
class Host {
  public:
    explicit Host(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios settings{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(fd_, TCSANOW, &settings);
        }
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    ~Host() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    bool isOpen() const { return fd_ >= 0; }
    void write(const Bytes& bytes) const {
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::write(fd_, bytes.data(), bytes.size()));
    }
    // Everything that arrives until nothing has come for `quiet`; each read is recorded.
    std::vector<Bytes> readReads(milliseconds quiet) const {
        std::vector<Bytes> reads;
        for (;;) {
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(quiet.count())) <= 0) {
                return reads;
            }
            std::uint8_t buffer[4096];
            const ssize_t count = ::read(fd_, buffer, sizeof buffer);
            if (count <= 0) {
                return reads;
            }
            reads.emplace_back(buffer, buffer + count);
        }
    }
    Bytes read(milliseconds quiet = milliseconds(100)) const {
        Bytes all;
        for (const Bytes& part : readReads(quiet)) {
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    }

  private:
    int fd_;
};

const Bytes kBaseIdResponse = esp3::encode(esp3::response(0, {0xFF, 0x9A, 0x43, 0x00}, {0x0A}));

class UartModule : public bw_sim::SandboxTest {
  protected:
    static void inHub(const std::function<void()>& body) {
        bw_sim::runInSandbox(
            [&] {
                bw_sim::sandbox::freshDev();
                body();
            },
            milliseconds(20000));
    }
};

TEST_F(UartModule, AnswersBaseIdRequestsAndTelegramsAndLogsThem) {
    inHub([] {
        Module module(Scenario{});
        Host host("/dev/ttyAMA0");
        ASSERT_TRUE(host.isOpen());
        EXPECT_NE(0, ::access("/dev/ttyUSB0", F_OK));
        host.write(kIdBaseRequest);
        EXPECT_EQ(kBaseIdResponse, host.read());
        host.write(kTelegram);
        EXPECT_EQ(esp3::encode(esp3::response(esp3::RET_OK)), host.read());
        host.write(esp3::encode({esp3::COMMON_COMMAND, {0x03}, {}}));  // CO_RD_VERSION
        EXPECT_EQ(esp3::encode(esp3::response(esp3::RET_NOT_SUPPORTED)), host.read());
        const std::vector<esp3::Frame> expected{
            kIdBaseFrame, kTelegramFrame, {esp3::COMMON_COMMAND, {0x03}, {}}};
        EXPECT_EQ(expected, module.received());
        EXPECT_EQ(
            concat({kIdBaseRequest, kTelegram, esp3::encode({esp3::COMMON_COMMAND, {0x03}, {}})}),
            module.receivedBytes());
    });
}

TEST_F(UartModule, FollowsItsScriptThenItsDefault) {
    inHub([] {
        Scenario scenario;
        scenario.baseId = {0x01, 0x02, 0x03, 0x04};
        scenario.remainingChanges = 7;
        Answer silent;
        silent.silent = true;
        Answer onlyCode;
        onlyCode.returnCode = 1;
        onlyCode.data = Bytes{0x01};
        onlyCode.optional = Bytes{};
        scenario.baseIdRequests.first = {silent, onlyCode};
        scenario.telegrams.then.returnCode = 2;
        Module module(scenario);
        Host host("/dev/ttyAMA0");
        host.write(kIdBaseRequest);
        EXPECT_TRUE(host.read().empty());
        host.write(kIdBaseRequest);
        EXPECT_EQ(kEmptyResponse.size() + 1, host.read().size());
        host.write(kIdBaseRequest);
        EXPECT_EQ(esp3::encode(esp3::response(0, {1, 2, 3, 4}, {7})), host.read());
        for (int i = 0; i < 2; ++i) {
            host.write(kTelegram);
            EXPECT_EQ(esp3::encode(esp3::response(2)), host.read());
        }
    });
}

TEST_F(UartModule, WritesWhatComesBeforeAndSplitsIntoSeparateWrites) {
    inHub([] {
        Scenario scenario;
        scenario.piecePause = milliseconds(50);
        Answer noisy;
        noisy.before = {0x55, 0xAA, 0x00};
        noisy.pieces = 3;
        scenario.baseIdRequests.then = noisy;
        Module module(scenario);
        Host host("/dev/ttyAMA0");
        host.write(kIdBaseRequest);
        const std::vector<Bytes> reads = host.readReads(milliseconds(200));
        EXPECT_GE(reads.size(), 2U);  // three writes; a loaded machine may merge two reads
        EXPECT_LE(reads.size(), 3U);
        Bytes all;
        for (const Bytes& part : reads) {
            all.insert(all.end(), part.begin(), part.end());
        }
        EXPECT_EQ(concat({{0x55, 0xAA, 0x00}, kBaseIdResponse}), all);
    });
}

TEST_F(UartModule, SendsUnsolicitedBytesAndLargeStreamsAsTheLineTakesThem) {
    inHub([] {
        Module module(Scenario{});
        Host host("/dev/ttyAMA0");
        Bytes big(100000);
        for (std::size_t i = 0; i < big.size(); ++i) {
            big[i] = static_cast<std::uint8_t>(i * 7);
        }
        module.send(big);
        EXPECT_FALSE(module.waitUntilSent(milliseconds(50)));  // more than the line buffers
        EXPECT_EQ(big, host.read());
        EXPECT_TRUE(module.waitUntilSent(milliseconds(1000)));
    });
}

TEST_F(UartModule, BindsAtEveryPathAndTakesTheEntriesAway) {
    inHub([] {
        {
            Scenario scenario;
            scenario.paths = {"/dev/ttyAMA0", "/dev/ttyUSB0"};
            Module module(scenario);
            Host usb("/dev/ttyUSB0");
            ASSERT_TRUE(usb.isOpen());
            usb.write(kIdBaseRequest);
            EXPECT_EQ(kBaseIdResponse, usb.read());
            EXPECT_TRUE(module.waitForFrames(1, milliseconds(100)));
        }
        EXPECT_NE(0, ::access("/dev/ttyAMA0", F_OK));
        EXPECT_NE(0, ::access("/dev/ttyUSB0", F_OK));
        Scenario unbound;
        unbound.paths.clear();
        Module module(unbound);
        EXPECT_NE(0, ::access("/dev/ttyAMA0", F_OK));
        Host direct(module.slavePath());
        direct.write(kIdBaseRequest);
        EXPECT_EQ(kBaseIdResponse, direct.read());
    });
}

}  // namespace
