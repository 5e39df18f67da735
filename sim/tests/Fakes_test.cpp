// The fake outside programs: logged command lines, scripted exits and output, and the
// small real effects that the hub's files need.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "HubTestSupport.hpp"
#include "hub/Hub.hpp"

namespace {

using bw_sim::Hook;
using bw_sim::Hub;
using bw_sim::Outcome;
using bw_sim::ProgramRun;
using bw_sim::RtcClock;
using bw_sim::Scenario;
using bw_sim_test::contentOf;
using bw_sim_test::exists;
using bw_sim_test::shell;
using std::chrono::milliseconds;

class Fakes : public ::testing::Test {
  protected:
    void SetUp() override { BW_REQUIRE_HUB(); }
};

constexpr milliseconds kLimit{20000};

std::vector<int> statusesOf(const Hub& hub) {
    std::vector<int> statuses;
    for (const bw_sim::CommandRecord& record : hub.commands()) {
        EXPECT_TRUE(record.finished) << record.line;
        statuses.push_back(record.status);
    }
    return statuses;
}

TEST_F(Fakes, EveryReplacedProgramIsLoggedWithItsCommandLine) {
    bw_sim::runInHub(
        Scenario(),
        [](Hub& hub) {
            const std::vector<std::string> commands = {
                "/usr/bin/svc -d /etc/service/mainbus",
                "/bin/systemctl stop zigbee-svc",
                "/usr/sbin/update-rc.d ssh disable",
                "/sbin/poweroff",
                "/usr/bin/bw-zw-flash --get-version -- /dev/brambleway/Z-Wave",
                "/bin/sync",
                "sync",
                "touch /var/lib/brambleway/hub/hub_id",
                "chown bw-selftest:bw-selftest /var/lib/brambleway/hub/hub_id",
                "bw-drop bw-selftest factory-tool",
                "shred -zvun 3 /usr/local/share/brambleway/registration.key",
                "rm -fv /usr/local/share/brambleway/registration.key",
                "hwclock -w",
            };
            for (const std::string& command : commands) {
                EXPECT_EQ(0, shell(command)) << command;
            }
            EXPECT_EQ(commands, hub.commandLines());
            EXPECT_EQ(std::vector<int>(commands.size(), 0), statusesOf(hub));
            const auto records = hub.commands();
            EXPECT_EQ("poweroff", records[3].program);
            EXPECT_EQ("hwclock", records.back().program);
            for (std::size_t i = 1; i < records.size(); ++i) {
                EXPECT_GE(records[i].started, records[i - 1].ended);
            }
        },
        kLimit);
}

TEST_F(Fakes, FailKTimesThenSucceedCountsRunsPerRule) {
    const Scenario scenario =
        Scenario()
            .command("bw-drop bw-selftest factory-tool", Outcome::failsTimes(2))
            .program("bw-drop", Outcome::fails(7))
            .program("svc", Outcome::statuses({0, 3, 0}));
    bw_sim::runInHub(
        scenario,
        [](Hub& hub) {
            EXPECT_EQ(1, shell("bw-drop bw-selftest factory-tool"));
            EXPECT_EQ(7, shell("bw-drop zigbee-svc zigbee-selftest"));
            EXPECT_EQ(1, shell("bw-drop bw-selftest factory-tool"));
            EXPECT_EQ(0, shell("bw-drop bw-selftest factory-tool"));
            EXPECT_EQ(0, shell("bw-drop bw-selftest factory-tool"));
            EXPECT_EQ(7, shell("bw-drop zigbee-svc zigbee-selftest"));
            EXPECT_EQ(0, shell("/usr/bin/svc -d /etc/service/a"));
            EXPECT_EQ(3, shell("/usr/bin/svc -d /etc/service/b"));
            EXPECT_EQ(0, shell("/usr/bin/svc -d /etc/service/c"));
            EXPECT_EQ(0, shell("/usr/bin/svc -d /etc/service/d"));
            EXPECT_EQ((std::vector<int>{1, 7, 1, 0, 0, 7, 0, 3, 0, 0}), statusesOf(hub));
        },
        kLimit);
}

TEST_F(Fakes, OutputIsExactlyWhatTheScenarioAsksAndNothingByDefault) {
    const Scenario scenario = Scenario().program(
        "bw-zw-flash", Outcome::fails(2).prints("NVR read\n").printsError("no ack"));
    bw_sim::runInHub(
        scenario,
        [](Hub& hub) {
            ProgramRun& run = hub.start([] {
                ::execl("/bin/sh", "sh", "-c",
                        "/usr/bin/bw-zw-flash --read-nvr x -- /dev/brambleway/Z-Wave; echo \"$?\"; "
                        "rm -fv /var/lib/brambleway/.firstboot; shred -zvun 3 /nothing; echo end",
                        nullptr);
            });
            ASSERT_TRUE(run.waitForExit(milliseconds(5000)));
            EXPECT_EQ("NVR read\n2\nend\n", run.out());
            EXPECT_EQ(
                "no ack"
                "shred: /nothing: failed to open for writing: No such file or directory\n",
                run.err());
        },
        kLimit);
}

TEST_F(Fakes, AFakeCanEndBySignalOrTakeItsTime) {
    const Scenario scenario = Scenario()
                                  .program("sync", Outcome::killedBy(SIGKILL))
                                  .program("svc", Outcome::succeeds().takes(milliseconds(200)));
    bw_sim::runInHub(
        scenario,
        [](Hub& hub) {
            // The shell either was replaced by the fake or reports the signal as 128 + n.
            const int synced = shell("/bin/sync");
            EXPECT_TRUE(synced == -SIGKILL || synced == 128 + SIGKILL) << synced;
            const auto start = Hub::Clock::now();
            EXPECT_EQ(0, shell("/usr/bin/svc -d /etc/service/mainbus"));
            EXPECT_GE(Hub::Clock::now() - start, milliseconds(200));
            ASSERT_EQ(2U, hub.commands().size());
            EXPECT_EQ(-SIGKILL, hub.commands()[0].status);
        },
        kLimit);
}

TEST_F(Fakes, TouchShredRmAndChownChangeTheFiles) {
    bw_sim::runInHub(
        Scenario().identityFiles(false),
        [](Hub&) {
            const std::string key = "/usr/local/share/brambleway/registration.key";
            EXPECT_EQ(
                0,
                shell("touch /var/lib/brambleway/hub/hub_id /var/lib/brambleway/hub/hub_id.sig"));
            EXPECT_EQ("", contentOf("/var/lib/brambleway/hub/hub_id.sig"));
            EXPECT_EQ(0, shell("chown bw-selftest:bw-selftest /var/lib/brambleway/hub/hub_id"));
            struct stat st {};
            ASSERT_EQ(0, ::stat("/var/lib/brambleway/hub/hub_id", &st));
            EXPECT_EQ(990U, st.st_uid);
            EXPECT_EQ(990U, st.st_gid);
            EXPECT_EQ(0, shell("chown root:root /var/lib/brambleway/hub/hub_id"));
            ASSERT_EQ(0, ::stat("/var/lib/brambleway/hub/hub_id", &st));
            EXPECT_EQ(0U, st.st_uid);

            EXPECT_EQ(0, shell("shred -zvn 3 " + key));
            EXPECT_EQ(std::string(29, '\0'), contentOf(key));
            EXPECT_EQ(0, shell("shred -zvun 3 " + key));
            EXPECT_FALSE(exists(key));
            EXPECT_EQ(0, shell("rm -fv " + key));
            EXPECT_EQ(1, shell("rm -v " + key + " 2>/dev/null"));
            EXPECT_EQ(0, shell("rm /var/lib/brambleway/.firstboot"));
            EXPECT_FALSE(exists("/var/lib/brambleway/.firstboot"));
        },
        kLimit);
}

TEST_F(Fakes, EffectsFailAsTheRealToolsDo) {
    const Scenario scenario = Scenario().hubDirectory(false).zwave(bw_sim::DeviceEntry::absent());
    bw_sim::runInHub(
        scenario,
        [](Hub& hub) {
            ProgramRun& run = hub.start([] {
                ::execl("/bin/sh", "sh", "-c",
                        "touch /var/lib/brambleway/hub/hub_id; echo $?; "
                        "chown bw-selftest:bw-selftest /var/lib/brambleway/hub/hub_id; echo $?; "
                        "chown nobody-here /var/lib/brambleway; echo $?; "
                        "/usr/bin/bw-zw-flash --get-version -- /dev/brambleway/Z-Wave; echo $?",
                        nullptr);
            });
            ASSERT_TRUE(run.waitForExit(milliseconds(5000)));
            EXPECT_EQ("1\n1\n1\n1\n", run.out());
            EXPECT_EQ(
                "touch: cannot touch '/var/lib/brambleway/hub/hub_id': No such file or directory\n"
                "chown: cannot access '/var/lib/brambleway/hub/hub_id': No such file or directory\n"
                "chown: invalid user: 'nobody-here'\n"
                "bw-zw-flash: cannot open /dev/brambleway/Z-Wave: No such file or directory\n",
                run.err());
        },
        kLimit);
}

TEST_F(Fakes, AFailingRunOrOneWithoutEffectLeavesTheFilesAlone) {
    const Scenario scenario = Scenario()
                                  .program("shred", Outcome::fails())
                                  .program("rm", Outcome::succeeds().withoutEffect());
    bw_sim::runInHub(
        scenario,
        [](Hub&) {
            const std::string key = "/usr/local/share/brambleway/registration.key";
            EXPECT_EQ(1, shell("shred -zvun 3 " + key));
            EXPECT_EQ(0, shell("rm -fv " + key));
            EXPECT_EQ("registration key of this hub\n", contentOf(key));
        },
        kLimit);
}

TEST_F(Fakes, HwclockMakesAnInvalidClockReadable) {
    bw_sim::runInHub(
        Scenario().rtc(RtcClock::invalid()),
        [](Hub&) {
            EXPECT_EQ("<unreadable: 21>", contentOf("/sys/class/rtc/rtc0/since_epoch"));
            EXPECT_EQ(0, shell("hwclock -r"));
            EXPECT_EQ("<unreadable: 21>", contentOf("/sys/class/rtc/rtc0/since_epoch"));
            const long before = static_cast<long>(std::time(nullptr));
            EXPECT_EQ(0, shell("hwclock -w"));
            const long written = std::atol(contentOf("/sys/class/rtc/rtc0/since_epoch").c_str());
            EXPECT_GE(written, before);
            EXPECT_LE(written, before + 5);
        },
        kLimit);
}

TEST_F(Fakes, HwclockWithoutTheDeviceFails) {
    bw_sim::runInHub(
        Scenario().rtc(RtcClock::unregistered()),
        [](Hub&) {
            EXPECT_EQ(1, shell("hwclock -w 2>/dev/null"));
            EXPECT_FALSE(exists("/sys/class/rtc/rtc0/since_epoch"));
        },
        kLimit);
}

TEST_F(Fakes, AMissingProgramIsNotFoundByTheShell) {
    bw_sim::runInHub(
        Scenario().missingProgram("bw-drop").missingProgram("svc"),
        [](Hub& hub) {
            EXPECT_EQ(127, shell("bw-drop bw-selftest factory-tool 2>/dev/null"));
            EXPECT_EQ(127, shell("/usr/bin/svc -d /etc/service/mainbus 2>/dev/null"));
            EXPECT_EQ(0, shell("/usr/bin/bw-zw-flash --get-version -- /dev/brambleway/Z-Wave"));
            EXPECT_EQ(std::vector<std::string>{"/usr/bin/bw-zw-flash --get-version -- "
                                               "/dev/brambleway/Z-Wave"},
                      hub.commandLines());
        },
        kLimit);
}

TEST_F(Fakes, HooksRunAsScriptedAndANonExecutableOneCannotRun) {
    const Scenario scenario = Scenario()
                                  .preHook(Hook::runs(Outcome::fails(4).prints("pre-hook ran\n")))
                                  .postHook(Hook::file("#!/bin/sh\nexit 0\n", 0644));
    bw_sim::runInHub(
        scenario,
        [](Hub& hub) {
            ProgramRun& run = hub.start([] {
                ::execl("/bin/sh", "sh", "-c",
                        "/usr/local/share/bw-selftest/pre-hook; echo $?; "
                        "/usr/local/share/bw-selftest/post-hook 2>/dev/null; echo $?",
                        nullptr);
            });
            ASSERT_TRUE(run.waitForExit(milliseconds(5000)));
            EXPECT_EQ("pre-hook ran\n4\n126\n", run.out());
            EXPECT_EQ(std::vector<std::string>{"/usr/local/share/bw-selftest/pre-hook"},
                      hub.commandLines());
        },
        kLimit);
}

TEST_F(Fakes, TheShellAndOtherToolsKeepWorkingAndTheHostIsUntouched) {
    bw_sim::runInHub(
        Scenario(),
        [](Hub& hub) {
            EXPECT_EQ(0, shell("test -d /etc && ls /etc >/dev/null && cat /etc/passwd >/dev/null"));
            EXPECT_EQ(3, shell("exit 3"));
            EXPECT_TRUE(hub.commands().empty());
        },
        kLimit);
    char target[256] = {};
    EXPECT_EQ(-1, ::readlink("/usr/bin/rm", target, sizeof target)) << target;
    EXPECT_FALSE(exists("/usr/bin/svc") && ::readlink("/usr/bin/svc", target, sizeof target) > 0 &&
                 std::string(target).find("bw-fake") != std::string::npos);
}

}  // namespace
