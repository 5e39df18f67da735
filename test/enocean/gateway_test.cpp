// The gateway against the simulated module, over a pseudo-terminal at the UART's paths.
#include "enocean/gateway.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <memory>

#include "GatewayHub.hpp"
#include "support/Capture.hpp"
#include "uart/Module.hpp"
#include "uart/PseudoTerminal.hpp"

namespace bw_selftest::gateway_test {
namespace {

using bw_sim::uart::Answer;
using bw_sim::uart::Bytes;
using bw_sim::uart::Module;
using bw_sim::uart::Scenario;
namespace esp3 = bw_sim::uart::esp3;
namespace sandbox = bw_sim::sandbox;
using bw_test::capture;

const std::uint8_t kUserData[] = {0xDE, 0xAD, 0xBE, 0xEF};
const Packet kTelegram(RORG_4BS, kUserData, 4, kNoAddress, 0xEFBEADDE);
const std::string kTelegramText = "[RORG=0xA5, Destaddr=0xDEADBEEF, Data=0xDEADBEEF]";

Scenario at(std::vector<std::string> paths) {
    Scenario scenario;
    scenario.paths = std::move(paths);
    return scenario;
}

TEST_F(GatewayLink, WithoutADeviceReportsOnceAndStaysClosed) {
    inHub([] {
        std::unique_ptr<Gateway> gateway;
        bw_test::Captured seen = capture([&] { gateway = std::make_unique<Gateway>(); });
        EXPECT_EQ(noDevicesLine(5000), seen.err);
        EXPECT_EQ("", seen.out);
        EXPECT_FALSE(gateway->isOpen());

        // Automatic re-probes wait 5 s; sending on a closed link is silent.
        seen = capture([&] {
            EXPECT_FALSE(gateway->openGateway(true));
            gateway->receivePackets();
            EXPECT_FALSE(gateway->sendNoWait(idBaseRequest()));
        });
        EXPECT_EQ("", seen.err);
        EXPECT_EQ("", seen.out);
        // A read asked for directly fails like any other.
        seen = capture([&] { EXPECT_EQ(0U, gateway->readToBuffer()); });
        EXPECT_EQ(
            "EnOcean: Gateway::readToBuffer(): IO-Error while reading from gateway-device: Bad "
            "file descriptor\n",
            seen.err);

        seen = capture([&] { EXPECT_EQ(-1, gateway->sendPacket(idBaseRequest())); });
        EXPECT_EQ("EnOcean: IO-error when sending packet [05 08 ---].\n", seen.out);
        EXPECT_EQ("", seen.err);
        const Packet none = gateway->sendAndAwaitResponse(idBaseRequest());
        EXPECT_EQ(Bytes({0x55, 0x00, 0x00, 0x00, 0x02, 0x0E, 0x00}),
                  Bytes(none.frame(), none.frame() + none.totalLength()));

        seen = capture([&] { EXPECT_FALSE(gateway->openGateway(false)); });
        EXPECT_EQ(noDevicesLine(5000), seen.err);
    });
}

TEST_F(GatewayLink, AutomaticReprobesAreRateLimited) {
    inHub([] {
        Gateway::RetryDelays delays;
        delays.first = 300;
        std::unique_ptr<Gateway> gateway;
        bw_test::Captured seen = capture([&] { gateway = std::make_unique<Gateway>(delays); });
        EXPECT_EQ(noDevicesLine(300), seen.err);
        const auto probed = std::chrono::steady_clock::now();

        seen = capture([&] { EXPECT_FALSE(gateway->openGateway(true)); });
        if (millisecondsSince(probed) < 300) {
            EXPECT_EQ("", seen.err);
        }
        ::usleep(350000);
        seen = capture([&] { EXPECT_FALSE(gateway->openGateway(true)); });
        EXPECT_EQ(noDevicesLine(120000), seen.err);
        seen = capture([&] { EXPECT_FALSE(gateway->openGateway(true)); });
        EXPECT_EQ("", seen.err);

        // The module appears, but the next automatic probe is two minutes away.
        Module module(Scenario{});
        seen = capture([&] { gateway->receivePackets(); });
        EXPECT_FALSE(gateway->isOpen());
        EXPECT_EQ("", seen.err);
        seen = capture([&] { EXPECT_TRUE(gateway->openGateway(false)); });
        EXPECT_EQ("", seen.err);
        EXPECT_EQ(0, gateway->sendPacket(idBaseRequest()));
    });
}

TEST_F(GatewayLink, ExplicitProbeRestartsTheRetryClock) {
    inHub([] {
        Gateway::RetryDelays delays;
        delays.first = 400;
        std::unique_ptr<Gateway> gateway;
        (void)capture([&] { gateway = std::make_unique<Gateway>(delays); });
        ::usleep(300000);
        bw_test::Captured seen = capture([&] { EXPECT_FALSE(gateway->openGateway(false)); });
        EXPECT_EQ(noDevicesLine(400), seen.err);
        const auto probed = std::chrono::steady_clock::now();

        ::usleep(200000);  // past the delay since construction, not since the last probe
        seen = capture([&] { EXPECT_FALSE(gateway->openGateway(true)); });
        if (millisecondsSince(probed) >= 400) {
            return;  // too slow a machine to tell the two clocks apart
        }
        EXPECT_EQ("", seen.err);
        ::usleep(250000);
        seen = capture([&] { EXPECT_FALSE(gateway->openGateway(true)); });
        EXPECT_EQ(noDevicesLine(120000), seen.err);
        // From now on an explicit probe tells the longer interval too.
        seen = capture([&] { EXPECT_FALSE(gateway->openGateway(false)); });
        EXPECT_EQ(noDevicesLine(120000), seen.err);
    });
}

TEST_F(GatewayLink, ReceivingReprobesOnceTheDelayHasPassed) {
    inHub([] {
        Gateway::RetryDelays delays;
        delays.first = 200;
        std::unique_ptr<Gateway> gateway;
        // Taken before the gateway starts its clock: on a slow machine (or under emulation)
        // the construction itself takes milliseconds that count towards the delay.
        const auto probed = std::chrono::steady_clock::now();
        (void)capture([&] { gateway = std::make_unique<Gateway>(delays); });
        Module module(Scenario{});
        gateway->receivePackets();
        if (millisecondsSince(probed) < 200) {
            EXPECT_FALSE(gateway->isOpen());
        }
        const bw_test::Captured seen = capture([&] {
            EXPECT_TRUE(pump(
                *gateway, [&] { return gateway->isOpen(); }, milliseconds(2000)));
        });
        EXPECT_GE(millisecondsSince(probed), 195);  // whole milliseconds
        EXPECT_EQ("", seen.err);
    });
}

TEST_F(GatewayLink, PrefersTtyAMA0AndLeavesTtyUSB0Alone) {
    inHub([] {
        Module onboard(at({"/dev/ttyAMA0"}));
        Module usb(at({"/dev/ttyUSB0"}));
        const bw_test::Captured seen = capture([] {
            Gateway gateway;
            EXPECT_TRUE(gateway.isOpen());
            EXPECT_EQ(0, gateway.sendPacket(idBaseRequest()));
        });
        EXPECT_EQ("", seen.err);
        EXPECT_EQ(1U, onboard.received().size());
        EXPECT_TRUE(usb.receivedBytes().empty());
    });
    inHub([] {
        Module onboard(at({"/dev/ttyAMA0"}));
        ASSERT_EQ(0, ::mkdir("/dev/ttyUSB0", 0755));  // would fail loudly if opened
        const bw_test::Captured seen = capture([] { EXPECT_TRUE(Gateway().isOpen()); });
        EXPECT_EQ("", seen.err);
    });
}

TEST_F(GatewayLink, FallsBackToTtyUSB0AndSaysWhyTtyAMA0Failed) {
    inHub([] {
        sandbox::writeFile("/dev/ttyAMA0", "");  // exists, but is no terminal
        Module usb(at({"/dev/ttyUSB0"}));
        std::unique_ptr<Gateway> gateway;
        const bw_test::Captured seen = capture([&] { gateway = std::make_unique<Gateway>(); });
        EXPECT_EQ(
            "EnOcean: An error occurred while setting up gateway device /dev/ttyAMA0: "
            "Inappropriate ioctl for device\n",
            seen.err);
        EXPECT_TRUE(gateway->isOpen());
        EXPECT_EQ(0, gateway->sendPacket(idBaseRequest()));
        EXPECT_EQ(1U, usb.received().size());
        // The descriptor of the failed path is gone; the other one goes with the gateway.
        EXPECT_TRUE(descriptorsOn("/dev/ttyAMA0").empty());
        EXPECT_EQ(1U, descriptorsOn("/dev/ttyUSB0").size());
        gateway.reset();
        EXPECT_TRUE(descriptorsOn("/dev/ttyUSB0").empty());
    });
}

TEST_F(GatewayLink, ReportsEachPathWhenNoneOpens) {
    inHub([] {
        ASSERT_EQ(0, ::mkdir("/dev/ttyAMA0", 0755));
        sandbox::writeFile("/dev/ttyUSB0", "");
        const bw_test::Captured seen = capture([] { EXPECT_FALSE(Gateway().isOpen()); });
        EXPECT_EQ(
            "EnOcean: An error occurred while opening gateway device /dev/ttyAMA0: Is a "
            "directory\n"
            "EnOcean: An error occurred while setting up gateway device /dev/ttyUSB0: "
            "Inappropriate ioctl for device\n"
            "EnOcean: Gateway::openGateway(): Unable to open any gateway devices. Retrying in "
            "5000 ms.\n",
            seen.err);
    });
}

// What a line may look like before the program takes it: cooked, echoing, 9600 baud.
void makeLineCooked(const char* path) {
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios settings{};
    ASSERT_EQ(0, ::tcgetattr(fd, &settings));
    settings.c_iflag |= static_cast<tcflag_t>(ICRNL | IXON | ISTRIP | BRKINT);
    settings.c_oflag |= static_cast<tcflag_t>(OPOST | ONLCR);
    settings.c_lflag |= static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    settings.c_cflag |= static_cast<tcflag_t>(HUPCL | PARENB);
    settings.c_cflag &= ~static_cast<tcflag_t>(CLOCAL | CREAD | CSIZE);
    settings.c_cflag |= static_cast<tcflag_t>(CS7);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 5;
    ::cfsetispeed(&settings, B9600);
    ::cfsetospeed(&settings, B9600);
    ASSERT_EQ(0, ::tcsetattr(fd, TCSANOW, &settings));
    ::close(fd);
}

TEST_F(GatewayLink, ConfiguresTheLineRawAt57600Baud) {
    inHub([] {
        Module module(Scenario{});
        makeLineCooked("/dev/ttyAMA0");
        Gateway gateway;
        ASSERT_TRUE(gateway.isOpen());
        const int fd = ::open("/dev/ttyAMA0", O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        termios settings{};
        ASSERT_EQ(0, ::tcgetattr(fd, &settings));
        ::close(fd);
        EXPECT_EQ(B57600, ::cfgetispeed(&settings));
        EXPECT_EQ(B57600, ::cfgetospeed(&settings));
        EXPECT_EQ(0U, settings.c_iflag & static_cast<tcflag_t>(ICRNL | IXON | ISTRIP | BRKINT));
        EXPECT_EQ(0U, settings.c_lflag & static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN));
        EXPECT_EQ(0U, settings.c_oflag & static_cast<tcflag_t>(OPOST));
        EXPECT_EQ(0U, settings.c_cflag & static_cast<tcflag_t>(HUPCL | PARENB));
        EXPECT_EQ(static_cast<tcflag_t>(CLOCAL | CREAD | CS8),
                  settings.c_cflag & static_cast<tcflag_t>(CLOCAL | CREAD | CSIZE));
        EXPECT_EQ(0, settings.c_cc[VMIN]);
        EXPECT_EQ(0, settings.c_cc[VTIME]);
    });
}

TEST_F(GatewayLink, OpensTheLineNonBlockingAndNeverAsControllingTerminal) {
    inHub([] {
        // A bare line and no module thread, since the check forks.
        bw_sim::uart::PseudoTerminal line;
        line.bindAt("/dev/ttyAMA0");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // A session leader without a terminal takes the first one it opens, unless the
            // open says not to.
            if (::setsid() < 0) {
                ::_exit(2);
            }
            const Gateway gateway;
            const std::vector<int> open = descriptorsOn("/dev/ttyAMA0");
            if (open.size() != 1) {
                ::_exit(3);
            }
            const int flags = ::fcntl(open[0], F_GETFL);
            if ((flags & O_ACCMODE) != O_RDWR || (flags & O_NONBLOCK) == 0) {
                ::_exit(4);
            }
            if ((::fcntl(open[0], F_GETFD) & FD_CLOEXEC) != 0) {
                ::_exit(5);
            }
            const int terminal = ::open("/dev/tty", O_RDWR | O_NOCTTY);
            ::_exit(terminal < 0 && errno == ENXIO ? 0 : 6);
        }
        int status = 0;
        ASSERT_EQ(child, ::waitpid(child, &status, 0));
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(0, WEXITSTATUS(status));
    });
}

TEST_F(GatewayLink, ExchangesPacketsAndReportsThem) {
    inHub([] {
        Module module(Scenario{});
        Gateway gateway;
        int code = 99;
        bw_test::Captured seen = capture([&] { code = gateway.sendPacket(kTelegram); });
        EXPECT_EQ(0, code);
        EXPECT_EQ("EnOcean: sending " + kTelegramText + ", sent. Response code: 0\n", seen.out);
        EXPECT_EQ("", seen.err);

        seen = capture([&] {
            const Packet response = gateway.sendAndAwaitResponse(idBaseRequest());
            EXPECT_EQ(esp3::encode(esp3::response(0, {0xFF, 0x9A, 0x43, 0x00}, {10})),
                      Bytes(response.frame(), response.frame() + response.totalLength()));
        });
        EXPECT_EQ("", seen.out);
        EXPECT_EQ("", seen.err);
        const std::vector<esp3::Frame> expected{
            esp3::Frame{PacketType::RADIO_ERP1,
                        {0xA5, 0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0, 0, 0},
                        {0x03, 0xDE, 0xAD, 0xBE, 0xEF, 0xFF, 0x00}},
            esp3::Frame{PacketType::COMMON_COMMAND, {CO_RD_IDBASE}, {}}};
        EXPECT_EQ(expected, module.received());
    });
}

TEST_F(GatewayLink, ResponseCodeIsTheFirstDataByteOrMinusOne) {
    inHub([] {
        Scenario scenario;
        Answer noData;
        noData.data = Bytes{};
        Answer refused;
        refused.returnCode = 2;
        scenario.telegrams.first = {Answer{}, noData, refused};
        Module module(scenario);
        Gateway gateway;
        EXPECT_EQ(0, gateway.sendPacket(kTelegram));
        int code = 99;
        const bw_test::Captured seen = capture([&] { code = gateway.sendPacket(kTelegram); });
        EXPECT_EQ(-1, code);
        EXPECT_EQ("EnOcean: sending " + kTelegramText + ", sent. Response code: -1\n", seen.out);
        EXPECT_EQ(2, gateway.sendPacket(kTelegram));
    });
}

TEST_F(GatewayLink, FindsTheAnswerBehindNoiseAndAcrossReads) {
    inHub([] {
        const Bytes response = esp3::encode(esp3::response(0));
        Bytes corrupted = esp3::encode(esp3::response(5));
        corrupted[6] ^= 0x01;
        Answer garbage;
        garbage.before = {0x00, 0xFF, 0x13, 0x37, 0x55, 0x55, 0x01};
        Answer badHeader;  // a header whose CRC fails, with the real frame starting inside it
        badHeader.before = {0x55, 0x00, 0x01};
        Answer badData;  // a whole frame whose data CRC fails
        badData.before = corrupted;
        Answer split;
        split.pieces = static_cast<std::size_t>(response.size());
        Answer everything = garbage;
        everything.before.insert(everything.before.end(), corrupted.begin(), corrupted.end());
        everything.pieces = 5;
        Scenario scenario;
        scenario.telegrams.first = {garbage, badHeader, badData, split, everything};
        scenario.piecePause = milliseconds(3);
        Module module(scenario);
        Gateway gateway;
        for (std::size_t i = 0; i < scenario.telegrams.first.size(); ++i) {
            EXPECT_EQ(0, gateway.sendPacket(kTelegram)) << "answer " << i;
        }
        EXPECT_EQ(0U, gateway.queuedPacketCount());
    });
}

TEST_F(GatewayLink, TelegramDuringTheWaitIsQueuedAndTheWaitGoesOn) {
    inHub([] {
        const esp3::Frame heard = esp3::radioTelegram(RORG_RPS, {0x30}, {0x01, 0x02, 0x03, 0x04},
                                                      {0xFF, 0xFF, 0xFF, 0xFF}, 70);
        const Bytes heardBytes = esp3::encode(heard);
        Answer late;
        late.before = heardBytes;
        late.pieces = 2;  // the telegram first, the RESPONSE 40 ms later
        Scenario scenario;
        scenario.piecePause = milliseconds(40);
        scenario.telegrams.first = {late};
        Module module(scenario);
        Gateway gateway;
        bw_test::Captured seen = capture([&] { EXPECT_EQ(0, gateway.sendPacket(kTelegram)); });
        EXPECT_EQ("", seen.err);
        ASSERT_EQ(1U, gateway.queuedPacketCount());
        const Packet& queued = gateway.frontPacket();
        EXPECT_EQ(heardBytes, Bytes(queued.frame(), queued.frame() + queued.totalLength()));
        gateway.popPacket();
        EXPECT_EQ(0U, gateway.queuedPacketCount());
    });
}

TEST_F(GatewayLink, SilentModuleTimesOutAfterAHundredMilliseconds) {
    inHub([] {
        Scenario scenario;
        scenario.baseIdRequests.then.silent = true;
        Module module(scenario);
        Gateway gateway;
        int code = 99;
        const auto start = std::chrono::steady_clock::now();
        bw_test::Captured seen = capture([&] { code = gateway.sendPacket(idBaseRequest()); });
        const long long waited = millisecondsSince(start);
        EXPECT_EQ(-1, code);
        EXPECT_GE(waited, 95);  // whole milliseconds
        EXPECT_LT(waited, 1000);
        EXPECT_EQ("EnOcean: No response when sending packet [05 08 ---].\n", seen.out);
        EXPECT_EQ(
            "EnOcean: Gateway::awaitResponsePacket: Timed out waiting for response from "
            "gateway.\n",
            seen.err);
        seen = capture([&] {
            const Packet none = gateway.sendAndAwaitResponse(idBaseRequest());
            EXPECT_EQ(0U, none.dataLength());
            EXPECT_EQ(7U, none.totalLength());
        });
        EXPECT_EQ("", seen.out);
        EXPECT_EQ(
            "EnOcean: Gateway::awaitResponsePacket: Timed out waiting for response from "
            "gateway.\n",
            seen.err);
    });
}

TEST_F(GatewayLink, RefusesToSendAPacketWithoutData) {
    inHub([] {
        Module module(Scenario{});
        Gateway gateway;
        const Packet empty(PacketType::COMMON_COMMAND, 0, 0);
        bw_test::Captured seen = capture([&] { EXPECT_FALSE(gateway.sendNoWait(empty)); });
        EXPECT_EQ("EnOcean: Gateway::sendNoWait: Attempted to send packet with no data.\n",
                  seen.err);
        seen = capture([&] { EXPECT_EQ(-1, gateway.sendPacket(empty)); });
        EXPECT_EQ("EnOcean: IO-error when sending packet [05 --- ---].\n", seen.out);
        ::usleep(50000);
        EXPECT_TRUE(module.receivedBytes().empty());
    });
}

TEST_F(GatewayLink, LostLineFailsTheSendWithTheSystemError) {
    inHub([] {
        auto module = std::make_unique<Module>(Scenario{});
        Gateway gateway;
        ASSERT_TRUE(gateway.isOpen());
        module.reset();  // the far end hangs up
        int code = 99;
        const bw_test::Captured seen = capture([&] { code = gateway.sendPacket(kTelegram); });
        EXPECT_EQ(-1, code);
        EXPECT_EQ("EnOcean: IO-error when sending packet " + kTelegramText + ".\n", seen.out);
        EXPECT_EQ(
            "EnOcean: Gateway::sendNoWait: An error occurred while writing to gateway device: "
            "Input/output error\n",
            seen.err);
    });
}

TEST_F(GatewayLink, QueueKeepsTheNewest256Packets) {
    inHub([] {
        Module module(Scenario{});
        Gateway gateway;
        Bytes stream;
        for (unsigned i = 0; i < 300; ++i) {
            const Bytes frame = esp3::encode(esp3::radioTelegram(
                RORG_1BS, {static_cast<std::uint8_t>(i)},
                {0, 0, 1, static_cast<std::uint8_t>(i >> 8)}, {0xFF, 0xFF, 0xFF, 0xFF}, 50));
            stream.insert(stream.end(), frame.begin(), frame.end());
        }
        module.send(stream);
        // The oldest survivor is number 44 once all 300 are in.
        const auto oldestKept = [&] {
            std::uint8_t number = 0;
            return gateway.queuedPacketCount() > 0 && gateway.frontPacket().get1BSData(number) &&
                   number == 300 - Gateway::kMaxQueuedPackets;
        };
        EXPECT_TRUE(pump(gateway, oldestKept, milliseconds(3000)));
        EXPECT_EQ(Gateway::kMaxQueuedPackets, gateway.queuedPacketCount());
    });
}

TEST_F(GatewayLink, AnEmptyQueueIsSafeToReadAndPop) {
    inHub([] {
        Gateway gateway;
        ASSERT_EQ(0U, gateway.queuedPacketCount());
        gateway.popPacket();
        EXPECT_EQ(0U, gateway.queuedPacketCount());
        EXPECT_EQ(PacketType::RESPONSE, gateway.frontPacket().packetType());
        EXPECT_EQ(0U, gateway.frontPacket().dataLength());
    });
}

}  // namespace
}  // namespace bw_selftest::gateway_test
