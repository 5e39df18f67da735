// The unmodified program on simulated hubs, one row per road: the exact standard output and
// standard error (golden transcripts under transcripts/), the LED writes and the files
// changed. Every row ends the same way: the program waits, alone, until SIGTERM ends it.
//
// BW_UPDATE_TRANSCRIPTS=1 rewrites the transcripts from the runs instead of comparing
// them; review every change by hand, they are the program's contract.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hub/Hub.hpp"

namespace {

using bw_sim::Entry;
using bw_sim::Hook;
using bw_sim::Hub;
using bw_sim::Outcome;
using bw_sim::RtcClock;
using bw_sim::RtcRegistration;
using bw_sim::Scenario;
using Files = std::vector<std::string>;
using std::chrono::milliseconds;

constexpr milliseconds kRunLimit{60000};
constexpr const char* kNoGpio = "no GPIO touched";
// Where the hubs have the program: its name starts the lines of the C library's error().
constexpr const char* kInstalledPath = "/usr/bin/bw-selftest";

struct Row {
    const char* name;  // transcripts/<name>.stdout and .stderr
    Scenario scenario;
    // The values written to the LEDs, a blank before each write to GPIO 11 (see ledWrites).
    const char* leds;
    Files files;  // what changed, as "path: change"
};

// What a run may change, in the order the changes are listed.
const Files kDownFilesRemoved = {
    "/etc/service/mainbus/down: removed (was a file)",
    "/etc/service/pkg-upgrade/down: removed (was a file)",
    "/etc/service/relaylink/down: removed (was a file)",
    "/etc/service/zipgateway/down: removed (was a file)",
    "/etc/service/zwave-svc/down: removed (was a file)",
};
const Files kKeyErased = {"/usr/local/share/brambleway/registration.key: removed (was a file)"};
const Files kMarkerRemoved = {"/var/lib/brambleway/.firstboot: removed (was a file)"};
const Files kIdentityMade = {
    "/var/lib/brambleway/hub/hub_id: created (file)",
    "/var/lib/brambleway/hub/hub_id.sig: created (file)",
};

Files join(const std::vector<Files>& parts) {
    Files all;
    for (const Files& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const Files kProvisioned = join({kDownFilesRemoved, kKeyErased, kMarkerRemoved, kIdentityMade});

Scenario model(const char* id) {
    return Scenario().model(id);
}

// The shortest suite, for the rows that are about the steps after it.
Scenario crate() {
    return Scenario().model("crate-1v0-b-eu");
}

Scenario normalBoot(const char* id) {
    return Scenario().model(id).firstBoot(false);
}

std::vector<Row> rows() {
    using Fault = bw_sim::GpioFault;
    const char* factoryTool = "bw-drop bw-selftest factory-tool";
    const RtcRegistration kRefused = RtcRegistration::refused(EACCES);
    // The four tests of the prism 1v1 suite, then the end of the run.
    const char* kPassed = "001 001 001 001 010";
    const char* kProvisioningFailed = "001 001 001 001 100";
    return {
        {"unsupported-id", model("prism-9v9-eu"), kNoGpio, {}},
        {"unsupported-no-model-file", Scenario().noModelFile(), kNoGpio, {}},
        {"unsupported-id-with-cr", Scenario().modelFile("prism-1v1-eu\r\n"), kNoGpio, {}},
        {"normal-boot-prism-1v1-eu", normalBoot("prism-1v1-eu"), "111", {}},
        {"normal-boot-prism-1v0-eu", normalBoot("prism-1v0-eu"), "111", {}},
        {"normal-boot-prism-1v0-1-eu", normalBoot("prism-1v0-1-eu"), "111", {}},
        {"normal-boot-prism-1v1-eu-proto-1", normalBoot("prism-1v1-eu-proto-1"), "111", {}},
        {"normal-boot-prism-1v1-eu-proto-2", normalBoot("prism-1v1-eu-proto-2"), "111", {}},
        {"normal-boot-crate-1v0-b-eu", normalBoot("crate-1v0-b-eu"), kNoGpio, {}},
        {"pass-prism-1v1-eu", model("prism-1v1-eu"), kPassed, kProvisioned},
        {"pass-prism-1v0-eu", model("prism-1v0-eu"), "001 001 001 001 001 010", kProvisioned},
        {"pass-prism-1v0-1-eu", model("prism-1v0-1-eu"), kPassed, kProvisioned},
        {"pass-prism-1v1-eu-proto-1", model("prism-1v1-eu-proto-1"), kPassed, kProvisioned},
        {"pass-prism-1v1-eu-proto-2", model("prism-1v1-eu-proto-2"), kPassed, kProvisioned},
        {"pass-crate-1v0-b-eu", model("crate-1v0-b-eu"), kNoGpio, kProvisioned},
        {"hooks-pass",
         crate().preHook(Hook::runs(Outcome::succeeds())).postHook(Hook::runs(Outcome::succeeds())),
         kNoGpio, kProvisioned},
        {"pre-hook-fails", Scenario().preHook(Hook::runs(Outcome::fails())), "100", {}},
        {"third-service-stop-fails",
         Scenario().command("/usr/bin/svc -d /etc/service/zipgateway", Outcome::fails()),
         "100",
         {}},
        {"second-test-fails",
         Scenario().rtc(RtcClock::unregistered()).rtcRegistration(kRefused),
         "001 001 100 100 100",
         {}},
        {"two-tests-fail",
         Scenario().noInterface("eth0").rtc(RtcClock::unregistered()).rtcRegistration(kRefused),
         "001 100 100 100 100",
         {}},
        {"factory-certificate-present-no-key", crate().certificate(true).registrationKey(false),
         kNoGpio, join({kDownFilesRemoved, kMarkerRemoved, kIdentityMade})},
        {"factory-tool-fails-four-times", Scenario().command(factoryTool, Outcome::fails()),
         kProvisioningFailed, kIdentityMade},
        {"factory-tool-passes-second-run", crate().command(factoryTool, Outcome::failsTimes(1)),
         kNoGpio, kProvisioned},
        {"post-hook-fails", Scenario().postHook(Hook::runs(Outcome::fails())), kProvisioningFailed,
         join({kKeyErased, kIdentityMade})},
        {"down-files-gone", crate().downFiles(Entry::absent), kNoGpio,
         join({kKeyErased, kMarkerRemoved, kIdentityMade})},
        {"keep-ssh", crate().keepSsh(true), kNoGpio, kProvisioned},
        {"zigbee-enable-fails",
         Scenario().command("/bin/systemctl enable zigbee-svc", Outcome::fails()),
         kProvisioningFailed, kProvisioned},
        {"marker-is-directory", Scenario().firstBootMarker(Entry::directory), kProvisioningFailed,
         join({kKeyErased, kIdentityMade})},
        {"gpio12-direction-refused",
         normalBoot("prism-1v1-eu").gpioFault({12, "direction", Fault::Operation::write, EACCES}),
         "1",
         {}},
        {"gpio11-without-value-file",
         normalBoot("prism-1v1-eu").gpioFault({11, "value", Fault::Operation::open, ENOENT}),
         "",
         {}},
    };
}

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

std::string transcriptPath(const std::string& name, const char* stream) {
    return std::string(BW_TRANSCRIPT_DIR) + "/" + name + stream;
}

// Compares `actual` with the transcript, or rewrites the transcript when asked to.
void checkTranscript(const std::string& name, const char* stream, const std::string& actual) {
    const std::string path = transcriptPath(name, stream);
    const char* update = std::getenv("BW_UPDATE_TRANSCRIPTS");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "missing " << path << " (BW_UPDATE_TRANSCRIPTS=1 makes it)";
    std::stringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(expected.str(), actual) << "differs from " << path;
}

// The commands the program says it runs, in order.
std::vector<std::string> narratedCommands(const std::string& out) {
    std::vector<std::string> commands;
    std::istringstream lines(out);
    const std::string prefix = "Running ";
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(prefix, 0) == 0 && line != "Running factory tool. ") {
            commands.push_back(line.substr(prefix.size()));
        }
    }
    return commands;
}

// The values written to the LEDs' value files, or kNoGpio when no GPIO file was written.
std::string ledWrites(const Hub& hub) {
    if (hub.gpio().timeline().empty()) {
        return kNoGpio;
    }
    std::string text;
    for (const bw_sim::GpioWrite& write : hub.gpio().timeline()) {
        if (write.error != 0 || write.file.size() < 6 ||
            write.file.compare(write.file.size() - 6, 6, "/value") != 0) {
            continue;
        }
        if (write.file == "gpio11/value" && !text.empty()) {
            text += ' ';
        }
        text += write.data;
    }
    return text;
}

// The LEDs keep the value last written to them: exported outputs after the program's
// objects are gone.
void expectLedsKeptTheirValues(const Hub& hub) {
    for (const unsigned gpio : bw_sim::kLedGpios) {
        const std::string file = "gpio" + std::to_string(gpio) + "/value";
        std::string last;
        for (const bw_sim::GpioWrite& write : hub.gpio().timeline()) {
            if (write.file == file && write.error == 0) {
                last = write.data;
            }
        }
        if (last.empty()) {
            continue;
        }
        const bw_sim::GpioLine line = hub.gpio().line(gpio);
        EXPECT_TRUE(line.exported) << gpio;
        EXPECT_EQ("out", line.direction) << gpio;
        EXPECT_EQ(last, std::to_string(line.value)) << gpio;
    }
}

int threadsOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) {
            return std::atoi(line.c_str() + 8);
        }
    }
    return -1;
}

class Program : public ::testing::TestWithParam<Row> {
  protected:
    void SetUp() override { BW_REQUIRE_HUB(); }
};

TEST_P(Program, TakesItsRoadThenWaitsForTermination) {
    const Row& row = GetParam();
    bw_sim::runInHub(
        row.scenario,
        [&row](Hub& hub) {
            bw_sim::sandbox::bindFile(BW_SELFTEST_PATH, kInstalledPath);
            bw_sim::ProgramRun& run = hub.start(kInstalledPath);
            ASSERT_TRUE(run.waitUntilPaused(kRunLimit)) << run.out() << run.err();
            checkTranscript(row.name, ".stdout", run.out());
            checkTranscript(row.name, ".stderr", run.err());

            EXPECT_EQ(narratedCommands(run.out()), hub.commandLines());
            for (const bw_sim::CommandRecord& record : hub.commands()) {
                EXPECT_TRUE(record.finished) << record.line;
            }
            EXPECT_EQ(row.leds, ledWrites(hub));
            expectLedsKeptTheirValues(hub);
            Files files;
            for (const bw_sim::FileChange& change : hub.fileChanges()) {
                files.push_back(change.path + ": " + change.what);
            }
            EXPECT_EQ(row.files, files);
            EXPECT_TRUE(hub.problems().empty());

            EXPECT_EQ(1, threadsOf(run.pid()));
            EXPECT_EQ((std::vector<int>{0, 1, 2}), run.openDescriptors());
            EXPECT_FALSE(run.waitForExit(milliseconds(100))) << "exited on its own";
            ASSERT_TRUE(run.terminate());
            EXPECT_TRUE(WIFSIGNALED(run.waitStatus()));
            EXPECT_EQ(SIGTERM, WTERMSIG(run.waitStatus()));
        },
        kRunLimit * 2);
}

INSTANTIATE_TEST_SUITE_P(Roads, Program, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& param) {
                             std::string name = param.param.name;
                             for (char& c : name) {
                                 c = c == '-' ? '_' : c;
                             }
                             return name;
                         });

}  // namespace
