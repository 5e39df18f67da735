// The hub as a whole: what a scenario lays out, the runner, and teardown on every path.
#include "hub/Hub.hpp"

#include <fcntl.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "HubTestSupport.hpp"
#include "hub/EnOceanModule.hpp"
#include "hub/Summary.hpp"

namespace {

using bw_sim::DeviceEntry;
using bw_sim::Entry;
using bw_sim::Hub;
using bw_sim::Outcome;
using bw_sim::ProgramRun;
using bw_sim::RtcClock;
using bw_sim::Scenario;
using bw_sim_test::contentOf;
using bw_sim_test::exists;
using bw_sim_test::shell;
using std::chrono::milliseconds;

class HubTest : public ::testing::Test {
  protected:
    void SetUp() override { BW_REQUIRE_HUB(); }
};

constexpr milliseconds kLimit{20000};

TEST_F(HubTest, DefaultIsAFirstBootOfAPrism1v1WithEverythingInPlace) {
    bw_sim::runInHub(
        Scenario(),
        [](Hub& hub) {
            EXPECT_EQ("prism-1v1-eu\n", contentOf("/usr/local/share/brambleway/corenode.model"));
            EXPECT_TRUE(exists("/var/lib/brambleway/.firstboot"));
            EXPECT_FALSE(exists("/var/lib/brambleway/.keepssh"));
            for (const char* service :
                 {"mainbus", "zwave-svc", "zipgateway", "pkg-upgrade", "relaylink"}) {
                EXPECT_TRUE(exists(std::string("/etc/service/") + service + "/down")) << service;
            }
            EXPECT_TRUE(exists("/usr/local/share/brambleway/registration.key"));
            EXPECT_FALSE(exists("/var/lib/brambleway/cloud-link/awsiot.crt"));
            EXPECT_FALSE(exists("/var/lib/brambleway/hub/hub_id"));
            EXPECT_TRUE(exists("/var/lib/brambleway/hub"));
            EXPECT_FALSE(exists("/usr/local/share/bw-selftest/pre-hook"));
            EXPECT_EQ("b8:27:eb:3c:4f:01\n", contentOf("/sys/class/net/eth0/address"));
            EXPECT_TRUE(exists("/sys/class/net/wlan0/address"));
            EXPECT_EQ("1551441600\n", contentOf("/sys/class/rtc/rtc0/since_epoch"));
            EXPECT_TRUE(exists("/dev/rtc0"));
            EXPECT_TRUE(exists("/sys/class/i2c-adapter/i2c-1/new_device"));
            EXPECT_TRUE(exists("/sys/class/gpio/export"));
            EXPECT_TRUE(exists("/dev/brambleway/Z-Wave"));
            EXPECT_TRUE(exists("/dev/brambleway/Zigbee"));
            EXPECT_TRUE(exists("/dev/ttyAMA0"));
            EXPECT_FALSE(exists("/dev/ttyUSB0"));
            EXPECT_EQ(bw_sim::LedState{}, hub.leds());
            EXPECT_TRUE(hub.commands().empty());
            EXPECT_TRUE(hub.fileChanges().empty());
        },
        kLimit);
}

TEST_F(HubTest, EnOceanModuleAnswersOnItsUartOrIsAbsent) {
    bw_sim::runInHub(
        Scenario(),
        [](Hub& hub) {
            auto* module = hub.device<bw_sim::EnOceanModule>();
            ASSERT_NE(nullptr, module);
            const int fd = ::open("/dev/ttyAMA0", O_RDWR | O_NOCTTY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            const std::uint8_t request[] = {0x55, 0x00, 0x01, 0x00, 0x05, 0x70, 0x08, 0x38};
            ASSERT_EQ(8, ::write(fd, request, sizeof request));
            // RESPONSE: RET_OK, base ID FF 9A 43 00, 10 changes left.
            const std::uint8_t expected[] = {0x55, 0x00, 0x05, 0x01, 0x02, 0xDB, 0x00,
                                             0xFF, 0x9A, 0x43, 0x00, 0x0A, 0xFE};
            std::uint8_t got[sizeof expected] = {};
            std::size_t have = 0;
            for (int i = 0; i < 200 && have < sizeof expected; ++i) {
                pollfd pfd{fd, POLLIN, 0};
                if (::poll(&pfd, 1, 10) == 1) {
                    const ssize_t n = ::read(fd, got + have, sizeof got - have);
                    ASSERT_GT(n, 0);
                    have += static_cast<std::size_t>(n);
                }
            }
            ::close(fd);
            ASSERT_EQ(sizeof expected, have);
            EXPECT_EQ(0, std::memcmp(expected, got, sizeof expected));
            ASSERT_EQ(1U, module->module().received().size());
        },
        kLimit);
    bw_sim::runInHub(
        Scenario().noEnOceanModule(),
        [](Hub& hub) {
            EXPECT_EQ(nullptr, hub.device<bw_sim::EnOceanModule>());
            EXPECT_FALSE(exists("/dev/ttyAMA0"));
        },
        kLimit);
}

TEST_F(HubTest, EachScenarioCallChangesItsOwnPiece) {
    const Scenario scenario = Scenario()
                                  .modelFile("prism-1v1-eu\r\n")
                                  .firstBootMarker(Entry::directory)
                                  .keepSsh(true)
                                  .downFile("zipgateway", Entry::absent)
                                  .downFile("relaylink", Entry::directory)
                                  .identityFiles(true)
                                  .certificate(true)
                                  .registrationKey(false)
                                  .noInterface("wlan0")
                                  .interface("eth0", "")
                                  .rtc(RtcClock::invalid())
                                  .zigbee(DeviceEntry::absent());
    bw_sim::runInHub(
        scenario,
        [](Hub&) {
            EXPECT_EQ("prism-1v1-eu\r\n", contentOf("/usr/local/share/brambleway/corenode.model"));
            struct stat st {};
            ASSERT_EQ(0, ::stat("/var/lib/brambleway/.firstboot", &st));
            EXPECT_TRUE(S_ISDIR(st.st_mode));
            EXPECT_TRUE(exists("/var/lib/brambleway/.keepssh"));
            EXPECT_FALSE(exists("/etc/service/zipgateway/down"));
            EXPECT_TRUE(exists("/etc/service/zipgateway"));
            EXPECT_TRUE(exists("/etc/service/mainbus/down"));
            EXPECT_NE(0, ::unlink("/etc/service/relaylink/down"));
            EXPECT_TRUE(exists("/var/lib/brambleway/hub/hub_id"));
            EXPECT_TRUE(exists("/var/lib/brambleway/hub/hub_id.sig"));
            EXPECT_TRUE(exists("/var/lib/brambleway/cloud-link/awsiot.crt"));
            EXPECT_FALSE(exists("/usr/local/share/brambleway/registration.key"));
            EXPECT_FALSE(exists("/sys/class/net/wlan0/address"));
            EXPECT_EQ("", contentOf("/sys/class/net/eth0/address"));
            EXPECT_EQ("<unreadable: 21>", contentOf("/sys/class/rtc/rtc0/since_epoch"));
            EXPECT_TRUE(exists("/dev/rtc0"));
            EXPECT_TRUE(exists("/dev/brambleway/Z-Wave"));
            EXPECT_FALSE(exists("/dev/brambleway/Zigbee"));
        },
        kLimit);
}

TEST_F(HubTest, NothingOfTheHubIsThereWhenTheScenarioSaysSo) {
    const Scenario scenario = Scenario()
                                  .noModelFile()
                                  .firstBoot(false)
                                  .hubDirectory(false)
                                  .noGpio()
                                  .noI2cAdapter()
                                  .rtc(RtcClock::unregistered())
                                  .deviceDirectory(DeviceEntry::absent());
    bw_sim::runInHub(
        scenario,
        [](Hub& hub) {
            EXPECT_FALSE(exists("/usr/local/share/brambleway/corenode.model"));
            EXPECT_FALSE(exists("/var/lib/brambleway/.firstboot"));
            EXPECT_FALSE(exists("/var/lib/brambleway/hub"));
            EXPECT_FALSE(exists("/sys/class/gpio"));
            EXPECT_FALSE(exists("/sys/class/i2c-adapter"));
            EXPECT_FALSE(exists("/sys/class/rtc/rtc0"));
            EXPECT_FALSE(exists("/dev/rtc0"));
            EXPECT_FALSE(exists("/dev/brambleway"));
            EXPECT_THROW(hub.gpio(), std::logic_error);
        },
        kLimit);
}

TEST_F(HubTest, DeviceEntriesAppearAfterTheirDelay) {
    const Scenario scenario = Scenario()
                                  .deviceDirectory(DeviceEntry::after(milliseconds(100)))
                                  .zwave(DeviceEntry::present())
                                  .zigbee(DeviceEntry::after(milliseconds(250)));
    bw_sim::runInHub(
        scenario,
        [](Hub& hub) {
            EXPECT_FALSE(exists("/dev/brambleway"));
            while (!exists("/dev/brambleway/Z-Wave")) {
                std::this_thread::sleep_for(milliseconds(5));
            }
            EXPECT_GE(Hub::Clock::now() - hub.origin(), milliseconds(100));
            EXPECT_FALSE(exists("/dev/brambleway/Zigbee"));
            while (!exists("/dev/brambleway/Zigbee")) {
                std::this_thread::sleep_for(milliseconds(5));
            }
            EXPECT_GE(Hub::Clock::now() - hub.origin(), milliseconds(250));
            EXPECT_TRUE(hub.problems().empty());
        },
        kLimit);
}

TEST_F(HubTest, RunnerSeparatesOutputsFindsThePauseAndListsDescriptors) {
    bw_sim::runInHub(
        Scenario(),
        [](Hub& hub) {
            ProgramRun& run = hub.start([] {
                std::fputs("to out\n", stdout);
                std::fflush(stdout);
                std::fputs("to err", stderr);
                const int kept = ::open("/sys/class/gpio/export", O_WRONLY);
                if (kept < 0) {
                    std::_Exit(3);
                }
                for (;;) {
                    ::pause();
                }
            });
            ASSERT_TRUE(run.waitUntilPaused(milliseconds(5000))) << run.err();
            EXPECT_EQ("to out\n", run.out());
            EXPECT_EQ("to err", run.err());
            EXPECT_EQ((std::vector<int>{0, 1, 2, 3}), run.openDescriptors());
            EXPECT_TRUE(run.terminate());
        },
        kLimit);
}

TEST_F(HubTest, ProgramsStartWithOnlyTheStandardDescriptors) {
    bw_sim::runInHub(
        Scenario(),
        [](Hub& hub) {
            ProgramRun& run = hub.start("/bin/sleep");  // no argument: fails at once
            ASSERT_TRUE(run.waitForExit(milliseconds(5000)));
            ProgramRun& shell = hub.start(
                [] { ::execl("/bin/sh", "sh", "-c", "ls /proc/self/fd; exec 1>&-", nullptr); });
            ASSERT_TRUE(shell.waitForExit(milliseconds(5000)));
            // ls itself holds one more: the directory it lists.
            EXPECT_EQ("0\n1\n2\n3\n", shell.out());
        },
        kLimit);
}

// The program under test crashes while holding a sysfs file open and with a fake still
// running below it: the hub must still unmount, and nothing may be left anywhere.
TEST_F(HubTest, TeardownAfterTheProgramCrashesLeavesNothingBehind) {
    bw_sim_test::NumberPipe pids;
    const Scenario scenario =
        Scenario().program("svc", Outcome::succeeds().takes(std::chrono::seconds(30)));
    bw_sim::runInHub(
        scenario,
        [&pids](Hub& hub) {
            pids.send(::getpid());
            ProgramRun& run = hub.start([] {
                const int fd = ::open("/sys/class/gpio/export", O_WRONLY);
                if (fd < 0 || std::system("/usr/bin/svc -d /etc/service/mainbus &") != 0) {
                    std::_Exit(3);
                }
                while (std::system("grep -q svc /tmp/.bw-hub/commands.log") != 0) {
                }
                ::raise(SIGSEGV);
            });
            pids.send(run.pid());
            ASSERT_TRUE(run.waitForExit(milliseconds(10000)));
            EXPECT_TRUE(WIFSIGNALED(run.waitStatus()));
            ASSERT_EQ(1U, hub.commands().size());
            EXPECT_FALSE(hub.commands()[0].finished);
            pids.send(hub.commands()[0].pid);
        },
        kLimit);
    const std::vector<long> seen = pids.received();
    ASSERT_EQ(3U, seen.size());
    for (const long pid : seen) {
        EXPECT_FALSE(bw_sim_test::processExists(static_cast<pid_t>(pid))) << pid;
    }
    EXPECT_TRUE(bw_sim_test::hubMountsOnHost().empty());
}

TEST_F(HubTest, AHungBodyIsKilledWithEverythingItStarted) {
    bw_sim_test::NumberPipe pids;
    EXPECT_NONFATAL_FAILURE(bw_sim::runInHub(
                                Scenario(),
                                [&pids](Hub& hub) {
                                    ProgramRun& run = hub.start([] {
                                        for (;;) {
                                            ::pause();
                                        }
                                    });
                                    pids.send(run.pid());
                                    ::pause();
                                },
                                milliseconds(1500)),
                            "killed after its limit");
    const std::vector<long> seen = pids.received();
    ASSERT_EQ(1U, seen.size());
    EXPECT_FALSE(bw_sim_test::processExists(static_cast<pid_t>(seen[0])));
    EXPECT_TRUE(bw_sim_test::hubMountsOnHost().empty());
}

TEST_F(HubTest, FilesChangedAreReported) {
    bw_sim::runInHub(
        Scenario(),
        [](Hub& hub) {
            ASSERT_EQ(0, ::unlink("/var/lib/brambleway/.firstboot"));
            ASSERT_EQ(0, shell("touch /var/lib/brambleway/hub/hub_id"));
            const auto changes = hub.fileChanges();
            ASSERT_EQ(2U, changes.size());
            EXPECT_EQ("/var/lib/brambleway/.firstboot", changes[0].path);
            EXPECT_EQ("removed (was a file)", changes[0].what);
            EXPECT_EQ("/var/lib/brambleway/hub/hub_id", changes[1].path);
            EXPECT_EQ("created (file)", changes[1].what);
        },
        kLimit);
}

// A stand-in for a first boot that passes: what a person watching the hub is told.
TEST_F(HubTest, SummaryTellsTheLedsTheCommandsAndTheFilesChanged) {
    bw_sim::runInHub(
        Scenario().exported(13, true, 1),
        [](Hub& hub) {
            ProgramRun& run = hub.start([] {
                ::execl("/bin/sh", "sh", "-c",
                        "cd /sys/class/gpio && echo 11 > export && echo out > gpio11/direction &&"
                        " echo 12 > export && echo high > gpio12/direction &&"
                        " /usr/bin/svc -d /etc/service/mainbus && bw-drop x y;"
                        " rm /var/lib/brambleway/.firstboot",
                        nullptr);
            });
            ASSERT_TRUE(run.waitForExit(milliseconds(5000)));
            EXPECT_EQ("", run.err());
            EXPECT_EQ(bw_sim::lit(false, true, true), hub.leds());
            const std::string summary = bw_sim::summarize(hub);
            EXPECT_NE(std::string::npos,
                      summary.find("LEDs at the end (GPIO 11, 12, 13): off on on\n"))
                << summary;
            EXPECT_NE(std::string::npos, summary.find(" ms  off - on\n")) << summary;
            EXPECT_NE(std::string::npos, summary.find(" ms  off on on\n")) << summary;
            EXPECT_NE(std::string::npos,
                      summary.find(" ms  /usr/bin/svc -d /etc/service/mainbus  (exit 0)\n"))
                << summary;
            EXPECT_NE(std::string::npos, summary.find(" ms  bw-drop x y  (exit 0)\n")) << summary;
            EXPECT_NE(std::string::npos,
                      summary.find("  /var/lib/brambleway/.firstboot: removed (was a file)\n"))
                << summary;
        },
        kLimit);
}

TEST_F(HubTest, RefusesToCoverTheRealSystem) {
    EXPECT_THROW(Hub hub{Scenario()}, std::runtime_error);
    EXPECT_TRUE(exists("/sys/class/net"));
}

TEST_F(HubTest, TheProgramRunsInTheDefaultHubAndWaitsForTermination) {
    bw_sim::runInHub(
        Scenario(),
        [](Hub& hub) {
            ProgramRun& run = hub.start(BW_SELFTEST_PATH);
            ASSERT_TRUE(run.waitUntilPaused(milliseconds(15000))) << run.out() << run.err();
            EXPECT_EQ(0U, run.out().find("corenode.model = \"prism-1v1-eu\"\n")) << run.out();
            EXPECT_TRUE(run.terminate());
            EXPECT_TRUE(hub.problems().empty());
        },
        kLimit);
}

// A device added through the scenario lives exactly as long as the hub.
class Probe : public bw_sim::HubDevice {
  public:
    explicit Probe(int& alive) : alive_(alive) { ++alive_; }
    ~Probe() override { --alive_; }
    int& alive_;
};

TEST_F(HubTest, AddedDevicesAreMadeWithTheHubAndGoBeforeIt) {
    bw_sim::runInSandbox(
        [] {
            int alive = 0;
            {
                Hub hub(
                    Scenario().device([&alive](Hub&) { return std::make_unique<Probe>(alive); }));
                EXPECT_EQ(1, alive);
                EXPECT_NE(nullptr, hub.device<Probe>());
            }
            EXPECT_EQ(0, alive);
        },
        kLimit);
}

}  // namespace
