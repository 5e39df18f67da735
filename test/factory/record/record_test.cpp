// The record tool against whole runs: one table of expected records, each naming the
// transcript it is read from, checked by an independent XML and JSON reader; and the
// rules every log obeys, checked on every transcript.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "record/LogReader.hpp"
#include "record/Writers.hpp"

namespace {

namespace fs = std::filesystem;
using bw_record::readLog;
using bw_record::Verdict;

const fs::path kExpected = fs::path(BW_SOURCE_DIR) / "test/factory/record/expected";
const fs::path kTranscriptDirs[] = {fs::path(BW_SOURCE_DIR) / "test/Main/transcripts",
                                    fs::path(BW_SOURCE_DIR) / "test/factory/record/transcripts"};
const std::string kSchema = BW_SOURCE_DIR "/factory/record/record.schema.json";
const fs::path kBoardRuns = fs::path(BW_SOURCE_DIR) / "sim/tests/board";

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// By name: the run tests' and this tool's own transcripts, and the emulated board's runs.
std::map<std::string, fs::path> transcripts() {
    std::map<std::string, fs::path> found;
    for (const fs::path& dir : kTranscriptDirs) {
        std::error_code absent;  // the run transcripts' directory comes with the run tests
        for (const auto& entry : fs::directory_iterator(dir, absent)) {
            if (entry.path().extension() == ".stdout") {
                found[entry.path().stem().string()] = entry.path();
            }
        }
    }
    std::error_code absent;
    for (const auto& entry : fs::directory_iterator(kBoardRuns, absent)) {
        if (fs::exists(entry.path() / "output")) {
            found["board-" + entry.path().filename().string()] = entry.path() / "output";
        }
    }
    return found;
}

class Scratch : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string name = (fs::temp_directory_path() / "bw-record-XXXXXX").string();
        ASSERT_NE(nullptr, ::mkdtemp(name.data()));
        dir_ = name;
    }
    void TearDown() override { fs::remove_all(dir_); }
    // The exit status of `command` run by the shell, with standard error in dir_/err.
    int shell(const std::string& command) {
        const int status = std::system((command + " 2>" + (dir_ / "err").string()).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string tool(const std::string& args) { return std::string(BW_RECORD_TOOL) + " " + args; }
    // Both records of `log`, checked, as the checker's digest; one line on standard error.
    std::string digest(const std::string& log) {
        const std::string junit = (dir_ / "r.xml").string();
        const std::string json = (dir_ / "r.json").string();
        const int status = shell(
            tool("--time 2026-12-08T09:30:00Z --junit " + junit + " --json " + json + " " + log));
        const std::string err = slurp(dir_ / "err");
        EXPECT_TRUE(err.find("bw-selftest-record: ") == 0 && err.find('\n') == err.size() - 1)
            << log << ": " << err;
        const std::string digest = (dir_ / "digest").string();
        EXPECT_EQ(0,
                  shell(std::string("/usr/bin/python3 ") + BW_RECORD_CHECKER + " " + junit + " " +
                        json + " " + std::to_string(status) + " " + kSchema + " >" + digest))
            << log << ": " << slurp(digest);
        return slurp(digest);
    }
    fs::path dir_;
};

using RecordTool = Scratch;

TEST_F(RecordTool, EveryTranscriptGivesItsExpectedRecord) {
    const std::map<std::string, fs::path> all = transcripts();
    std::set<std::string> expected;
    for (const auto& entry : fs::directory_iterator(kExpected)) {
        const std::string name = entry.path().stem().string();
        expected.insert(name);
        ASSERT_EQ(1U, all.count(name)) << "no transcript " << name;
        EXPECT_EQ(slurp(entry.path()), digest(all.at(name).string())) << name;
    }
    for (const auto& [name, path] : all) {
        EXPECT_EQ(1U, expected.count(name)) << "no expected record for " << path;
    }
}

// Values out of shape or range are kept and flagged, and leave the verdict alone; a tool's
// output that imitates the program's lines gives no value.
TEST_F(RecordTool, OnlyTheProgramsOwnLinesGiveValues) {
    const std::string zwave = "-- /dev/brambleway/Z-Wave\n";
    const std::string nvr =
        "/usr/bin/bw-zw-flash --read-nvr /var/lib/brambleway/bw-selftest/nvr.bin "
        "--reset-pin 22 -- /dev/brambleway/Z-Wave";
    const std::string imitation =
        "Requesting BaseID: OK.\nBaseID = 0xFF800000, 1 changes left\n\neth0 found with MAC "
        "address = 00:11:22:33:44:55\n";
    struct Row {
        const char* transcript;
        std::vector<std::pair<std::string, std::string>> edits;
        const char* values;  // the digest's last line
    } rows[] = {
        {"pass-prism-1v0-eu",
         {{"= b8:27:eb:3c:4f:02", "= b8:27:eb:3c:4f"},
          {"= b8:27:eb:3c:4f:01", "= B8:27:EB:3C:4F:01"},
          {"0xFF9A4300, 10", "0x00001234, 12"},
          {"22 " + zwave + "Running", "22 " + zwave + "busy\nWaiting 5s to retry...\n\nRunning " +
                                          nvr + "\nread 2 KiB\nRunning"}},
         "unit b8:27:eb:3c:4f:01; Wifi mac=\"b8:27:eb:3c:4f\"!; Ethernet mac=b8:27:eb:3c:4f:01; "
         "EnOcean base_id=0x00001234! changes_left=12!; RTC time=2019-03-01T12:00:00Z "
         "since_epoch=1551441600 offset=-245280600; Z-Wave nvr_read_output=\"read 2 KiB\\n\" "
         "bridge_flash_output=\"\""},
        {"pass-crate-1v0-b-eu",
         {{zwave, zwave + "7.18\n"}},
         "unit b8:27:eb:3c:4f:01; Ethernet mac=b8:27:eb:3c:4f:01; Z-Wave "
         "firmware_version=\"7.18\\n\""},
        {"pass-prism-1v1-eu",
         {{"= b8:27:eb:3c:4f:01", "= b8:27:eb:3c:4f:0g"},
          {"--erase-nvm --reset-pin 22 " + zwave,
           "--erase-nvm --reset-pin 22 " + zwave + imitation},
          {"RTC found with time 2019-03-01 12:00:00Z", "RTC found with time 2019-03-01 12:00:01Z"}},
         "unit unknown; Ethernet mac=\"b8:27:eb:3c:4f:0g\"!; Z-Wave nvr_read_output=\"\" "
         "bridge_flash_output=\"Requesting BaseID: OK.\\nBaseID = 0xFF800000, 1 changes left\\n\\n"
         "eth0 found with MAC address = 00:11:22:33:44:55\\n\"; Zigbee selftest_output=\"\""},
    };
    for (const Row& row : rows) {
        std::string log = slurp(kTranscriptDirs[0] / (std::string(row.transcript) + ".stdout"));
        for (const auto& [from, to] : row.edits) {
            ASSERT_NE(std::string::npos, log.find(from)) << from;
            log.replace(log.find(from), from.size(), to);
        }
        std::ofstream(dir_ / "log") << log;
        const std::string got = digest((dir_ / "log").string());
        EXPECT_EQ(0U, got.find("passed (exit 0)")) << got;
        EXPECT_EQ(std::string(row.values) + "\n", got.substr(got.rfind('\n', got.size() - 2) + 1));
    }
}

// Power lost or a capture cut anywhere: never a pass, unless all that a pass prints is there.
TEST(RecordRules, ACutLogNeverPasses) {
    for (const auto& [name, transcript] : transcripts()) {
        const std::string log = slurp(transcript);
        const bool passes = readLog(log).verdict == Verdict::passed;
        const std::size_t poweroff = log.find("Running /sbin/poweroff\n");  // then all is there
        const std::size_t step = log.size() / 4000 + 1;
        for (std::size_t cut = 0; cut < log.size(); cut += step) {
            const Verdict verdict = readLog(log.substr(0, cut)).verdict;
            EXPECT_TRUE(verdict != Verdict::passed ||
                        (passes && poweroff != std::string::npos && cut >= poweroff + 23))
                << transcript << " cut at byte " << cut;
        }
        const std::string sync = "Running /bin/sync\n";  // a prism run ends with it
        const bool endsInSync =
            log.size() >= sync.size() && log.substr(log.size() - sync.size()) == sync;
        for (const char* begun : {"\n ", "\n F", "\n FAI", "\n FAIL"}) {  // the failure line cut
            EXPECT_TRUE(!endsInSync || readLog(log + begun).verdict != Verdict::passed)
                << transcript << begun;
        }
    }
}

// Where a run stops is named in its reason, for each place the reader passes: the log cut
// just after `text`, and (where the program's own line must stand there) that line changed.
TEST(RecordRules, TheReasonNamesWhereTheLogStopped) {
    const std::string log = slurp(kTranscriptDirs[0] / "pass-crate-1v0-b-eu.stdout");
    const struct {
        const char* text;
        const char* place;
        bool fixedLine;  // the program's own line, so a changed byte is unexpected text
    } rows[] = {
        {"corenode.model = \"crate", "the model line", false},
        {"Checking /var/lib/brambleway/.firstboot", "the first-boot marker check", false},
        {"Checking /usr/local/share/bw-selftest/pre-hook", "the pre-hook", true},
        {"Running /usr/bin/svc -d /etc/service/main", "the service stop", true},
        {"Reading /sys/class/net/eth0", "the test Ethernet", false},
        {"Running factory tool.", "the factory tool", true},
        {"Checking /usr/local/share/bw-selftest/post-hook:", "the post-hook", false},
        {"Preparing normal boot.", "the normal-boot preparation", true},
    };
    for (const auto& row : rows) {
        const std::size_t at = log.find(row.text);
        ASSERT_NE(std::string::npos, at) << row.text;
        const std::size_t end = at + std::string(row.text).size();
        EXPECT_EQ("the log ends during " + std::string(row.place),
                  readLog(log.substr(0, end)).reason);
        if (row.fixedLine) {
            std::string changed = log;
            changed[at] = '#';
            EXPECT_EQ("unexpected text during " + std::string(row.place) + " at byte " +
                          std::to_string(at),
                      readLog(changed).reason);
        }
    }
}

// A capture that runs on into the next boot, cut line and all: only the first run counts.
TEST(RecordRules, TheNextBootIsNoPartOfTheRun) {
    const std::string next = slurp(kTranscriptDirs[0] / "pass-crate-1v0-b-eu.stdout");
    for (const auto& [name, transcript] : transcripts()) {
        const std::string log = slurp(transcript);
        EXPECT_EQ(bw_record::jsonRecord(readLog(log), ""),
                  bw_record::jsonRecord(readLog(log + next), ""))
            << transcript;
    }
}

// A serial console's tty writes every line feed as CR LF.
TEST(RecordRules, ATtyCaptureGivesTheSameRecord) {
    for (const auto& [name, transcript] : transcripts()) {
        const std::string log = slurp(transcript);
        std::string tty;
        for (char c : log) {
            tty += c == '\n' ? "\r\n" : std::string(1, c);
        }
        EXPECT_EQ(bw_record::jsonRecord(readLog(log), ""), bw_record::jsonRecord(readLog(tty), ""))
            << transcript;
    }
}

// Both records byte for byte, for runs with markup and control bytes, measurements and a
// failed test, and a run that failed without a failed test or step.
TEST(RecordRules, RecordsKeepTheirExactBytes) {
    const fs::path exact = fs::path(BW_SOURCE_DIR) / "test/factory/record/exact";
    const std::map<std::string, fs::path> all = transcripts();
    for (const char* name : {"tool-output-with-markup-and-control-bytes", "second-test-fails",
                             "normal-boot-prism-1v1-eu"}) {
        ASSERT_EQ(1U, all.count(name)) << name;
        const bw_record::RunRecord record = readLog(slurp(all.at(name)));
        EXPECT_EQ(slurp(exact / (std::string(name) + ".xml")),
                  bw_record::junitRecord(record, "2026-12-08T09:30:00Z"))
            << name;
        EXPECT_EQ(slurp(exact / (std::string(name) + ".json")),
                  bw_record::jsonRecord(record, "2026-12-08T09:30:00Z"))
            << name;
    }
}

TEST_F(RecordTool, BadArgumentsOrUnreadableInputGiveStatusTwoAndOneLine) {
    const std::string original = (kTranscriptDirs[0] / "pass-crate-1v0-b-eu.stdout").string();
    const std::string log = (dir_ / "console.log").string();
    const std::string record = (dir_ / "old.xml").string();
    fs::copy_file(original, log);
    ASSERT_EQ(0, shell(tool("--junit " + record + " " + log)));
    ASSERT_EQ(0, shell(tool("--version >/dev/null")));
    for (const std::string& args : std::vector<std::string>{
             "--bogus " + log, "--junit", "--junit --json " + log, "--time yesterday " + log,
             "--time 2026-12-08T09:30:00+0100 " + log, log + " " + log, "--junit - --json - " + log,
             "/nonexistent/log", dir_.string(), "--json /nonexistent/r.json " + log,
             "--json " + dir_.string() + " " + log, "--time 2026-13-45T99:99:99Z " + log,
             "--time 2026-02-29T10:00:00Z " + log, "--time 2026-12-08T24:00:00Z " + log,
             "--junit " + log + " " + record, "--junit " + log + " " + log,
             "--json " + log + " - <" + log, "--junit " + record + " --json " + record + " " + log,
             "--json " + original + " " + log}) {
        EXPECT_EQ(2, shell(tool(args))) << args;
        const std::string err = slurp(dir_ / "err");
        EXPECT_EQ(0U, err.find("bw-selftest-record: ")) << args;
        EXPECT_EQ(err.size() - 1, err.find('\n')) << args << ": " << err;
        EXPECT_EQ(slurp(original), slurp(log)) << args << " changed the log";
    }
    EXPECT_EQ(3U, std::distance(fs::directory_iterator(dir_), fs::directory_iterator()))
        << "a temporary file stays";
    for (const auto& entry : fs::directory_iterator(dir_.parent_path())) {
        EXPECT_NE(0U, entry.path().string().find(dir_.string() + "."))
            << "a half-written record stays";
    }
}

}  // namespace
