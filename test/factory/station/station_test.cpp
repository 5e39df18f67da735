// The station as the line runs it: a process following pseudo-terminals as consoles, killed,
// restarted, losing a console and finding it again; and the yield over a hand-made history.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pthread.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "station/Station.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kStation = BW_STATION;

std::string transcript(const std::string& name) {
    std::ifstream in(BW_SOURCE_DIR "/test/Main/transcripts/" + name + ".stdout", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::string kBoot = "U-Boot 2019.07\n[    0.000000] Booting Linux\n";
// The crate model powers off after passing, so its pass is known at once.
const std::string kPass = transcript("pass-crate-1v0-b-eu");
const std::string kFail = transcript("second-test-fails");
const std::string kHalfPass = kPass.substr(0, kPass.find("All tests passed."));

class Directory {
  public:
    Directory() {
        char name[] = "/tmp/bw-station-test.XXXXXX";
        path_ = mkdtemp(name);
    }
    ~Directory() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// A console: the test writes the hub's side, the station opens `link`.
class Console {
  public:
    explicit Console(const fs::path& link) : link_(link) { plugIn(); }
    ~Console() { unplug(); }
    void plugIn() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        const fs::path temporary = link_.string() + ".new";
        fs::create_symlink(ptsname(master_), temporary);
        fs::rename(temporary, link_);
    }
    void unplug() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }
    void write(const std::string& bytes) {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

  private:
    fs::path link_;
    int master_ = -1;
};

std::string output(const std::string& command) {
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, got);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return out;
}

class Station {
  public:
    Station(const Directory& dir, const std::vector<std::string>& fixtures) : dir_(dir) {
        log_ = dir.path() / "station.out";
        std::ofstream truncated(log_);  // what an earlier station said is not this one's
        pid_ = fork();
        if (pid_ == 0) {
            const int out = open(log_.c_str(), O_WRONLY | O_APPEND);
            dup2(out, 1);
            std::vector<std::string> args = {kStation, "run", "--db", db()};
            args.insert(args.end(), fixtures.begin(), fixtures.end());
            std::vector<char*> argv;
            for (std::string& arg : args) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Station() { stop(SIGKILL); }
    std::string db() const { return (dir_.path() / "station.db").string(); }
    int stop(int signal) {
        if (pid_ <= 0) {
            return -1;
        }
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }
    // Waits (up to 10 s) until the station has said `text` `times` times.
    void await(const std::string& text, int times = 1) const {
        for (int i = 0; i < 200; ++i) {
            std::ifstream in(log_);
            std::ostringstream said;
            said << in.rdbuf();
            int found = 0;
            for (std::size_t at = said.str().find(text); at != std::string::npos;
                 at = said.str().find(text, at + 1)) {
                ++found;
            }
            if (found >= times) {
                return;
            }
            std::this_thread::sleep_for(50ms);
        }
        FAIL() << "the station never said \"" << text << "\" " << times << " times";
    }
    std::string cli(const std::string& args) const {
        return output(kStation + " " + args + " --db " + db());
    }

  private:
    const Directory& dir_;
    fs::path log_;
    pid_t pid_ = -1;
};

// Killed in the middle of several runs, the station loses no byte it had committed, and the
// next start ends the open runs as incomplete.
TEST(Station, AKillLosesNoCommittedByte) {
    Directory dir;
    Console a(dir.path() / "a"), b(dir.path() / "b");
    {
        Station station(dir,
                        {"A=" + (dir.path() / "a").string(), "B=" + (dir.path() / "b").string()});
        station.await(": online", 2);
        a.write(kBoot + kFail + kHalfPass);
        b.write(kBoot + kHalfPass);
        std::this_thread::sleep_for(2500ms);  // a second's commit, with room to spare
        EXPECT_EQ(WTERMSIG(station.stop(SIGKILL)), SIGKILL);
    }
    Station again(dir, {"A=" + (dir.path() / "a").string(), "B=" + (dir.path() / "b").string()});
    again.await(": online", 2);
    EXPECT_EQ(again.stop(SIGTERM), 0);
    const std::string runs = again.cli("runs --json");
    for (const char* run : {"\"id\":1,\"fixture\":\"A\",\"unit\":\"b8:27:eb:3c:4f:01\",\"model\":"
                            "\"prism-1v1-eu\",\"road\":\"first boot\",\"verdict\":\"failed\"",
                            "\"id\":2,\"fixture\":\"A\"", "\"id\":3,\"fixture\":\"B\""}) {
        EXPECT_NE(runs.find(run), std::string::npos) << run << " in " << runs;
    }
    EXPECT_EQ(runs.find("\"passed\""), std::string::npos) << runs;
    EXPECT_NE(runs.find("\"incomplete\",\"reason\":\"the station stopped during the run\""),
              runs.rfind("\"incomplete\",\"reason\":\"the station stopped during the run\""));
    EXPECT_EQ(again.cli("show 1 --log"), kFail);
    EXPECT_EQ(again.cli("show 2 --log"), kHalfPass);
    EXPECT_EQ(again.cli("show 3 --log"), kHalfPass);
    // The record tool's formats carry the stored verdict, not a pass the bytes could suggest.
    EXPECT_NE(
        again.cli("show 2 --json -").find("\"reason\": \"the station stopped during the run\""),
        std::string::npos);
}

// An unplugged adapter ends its run as incomplete; the station opens the device again when
// it returns and follows the next run, without a restart.
TEST(Station, AConsoleGoesAwayAndComesBack) {
    Directory dir;
    Console a(dir.path() / "a");
    Station station(dir, {"A=" + (dir.path() / "a").string()});
    station.await("A: online");
    Directory other;
    Station second(other, {"A=" + (dir.path() / "a").string()});
    second.await("A: offline: " + (dir.path() / "a").string() + " is in use by another station");
    EXPECT_EQ(second.stop(SIGTERM), 0);
    a.write(kBoot + kHalfPass);
    std::this_thread::sleep_for(500ms);
    a.unplug();
    station.await("A: offline");
    a.plugIn();
    station.await("A: online", 2);
    a.write(kBoot + kPass);
    station.await("A: run 2 passed");
    EXPECT_EQ(station.stop(SIGTERM), 0);
    const std::string runs = station.cli("runs --json");
    EXPECT_NE(runs.find("\"id\":1,\"fixture\":\"A\",\"unit\":\"b8:27:eb:3c:4f:01\",\"model\":"
                        "\"crate-1v0-b-eu\",\"road\":\"first boot\",\"verdict\":\"incomplete\","
                        "\"reason\":\"the console went away during the run\""),
              std::string::npos)
        << runs;
    EXPECT_EQ(station.cli("show 1 --log"), kHalfPass);
    EXPECT_EQ(station.cli("show 2 --log"), kPass);
}

// What the live page reads, while the loop follows the console in another thread.
TEST(Station, TheLivePageFollowsAFixture) {
    Directory dir;
    Console a(dir.path() / "a");
    const bw_station::StationOptions options{
        (dir.path() / "live.db").string(), 115200, {{"A", (dir.path() / "a").string()}}};
    std::promise<bw_station::Api*> ready;
    struct Nothing : bw_station::Service {};
    std::thread loop([&] {
        EXPECT_EQ(bw_station::runStation(options,
                                         [&](bw_station::Api& api) {
                                             ready.set_value(&api);
                                             return std::make_unique<Nothing>();
                                         }),
                  0);
    });
    bw_station::Api& api = *ready.get_future().get();
    const auto shows = [&api](const std::vector<std::string>& facts) {
        std::uint64_t version = 0;
        for (int turn = 0; turn < 100; ++turn) {
            std::string live = api.fixturesJson();
            bool all = true;
            for (const std::string& fact : facts) {
                all = all && live.find(fact) != std::string::npos;
            }
            if (all) {
                return live;
            }
            version = api.waitForChange(version, 100);
        }
        ADD_FAILURE() << "never " << facts.front() << " in " << api.fixturesJson();
        return std::string();
    };
    shows({"\"state\":\"waiting\"", "\"model\":null", "\"run\":null"});
    a.write(kBoot);
    shows({"\"state\":\"booting\""});
    a.write(kHalfPass);
    shows({"\"state\":\"testing\"", "\"model\":\"crate-1v0-b-eu\"",
           "\"unit\":\"b8:27:eb:3c:4f:01\"", "\"testCount\":", "\"run\":1",
           "\"outcome\":\"passed\""});
    a.write(kPass.substr(kHalfPass.size()));
    shows({"\"state\":\"passed\"", "\"verdict\":\"passed\"", "\"test\":null"});
    EXPECT_NE(api.runsJson({}).find("\"id\":1,\"fixture\":\"A\""), std::string::npos);
    EXPECT_EQ(api.runLog(1), kPass);
    EXPECT_EQ(api.runLog(2), std::nullopt);
    EXPECT_NE(api.runJson(1)->find("\"tests\":[{\"name\":\"Ethernet\",\"outcome\":\"passed\""),
              std::string::npos);
    // The loop reads it from its signal descriptor, as it would a SIGTERM to the process.
    pthread_kill(loop.native_handle(), SIGTERM);  // NOLINT(bugprone-bad-signal-to-kill-thread)
    loop.join();
}

// Each bad command line is refused with exit status 2 and one line saying why.
TEST(Station, BadCommandLinesSayWhy) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {"", "no command given"},
        {"walk", "unknown command walk"},
        {"run", "no fixture given"},
        {"run A", "\"A\" is not FIXTURE=DEVICE"},
        {"run A=/dev/x A=/dev/y", "fixture A or its device /dev/y is given twice"},
        {"run --baud 1234 A=/dev/x", "--baud 1234 is not a rate"},
        {"run --config /nonexistent A=/dev/x", "cannot read the configuration"},
        {"import", "no log given"},
        {"runs --since yesterday", "--since yesterday is not of the form"},
        {"runs --db", "--db needs a value"},
        {"show", "no run given"},
        {"show x1", "RUN x1 is not a run number"},
        {"show 1 --log --junit -", "exclude each other"},
        {"stats --json --csv", "exclude each other"},
        {"stats --colour", "unknown option --colour"},
    };
    for (const auto& [args, reason] : table) {
        std::FILE* pipe = popen((kStation + " " + args + " 2>&1 >/dev/null").c_str(), "r");
        std::string said;
        char buffer[512];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            said.append(buffer, got);
        }
        EXPECT_EQ(WEXITSTATUS(pclose(pipe)), 2) << args;
        EXPECT_NE(said.find(reason), std::string::npos) << args << ": " << said;
        EXPECT_EQ(said.find('\n'), said.size() - 1) << args << ": " << said;
    }
}

// A unit is a MAC; attempts are first-boot runs with an outcome; first-pass and final yield
// are shares of the units with an attempt.
TEST(Station, YieldOverAHandMadeHistory) {
    Directory dir;
    const auto unit = [](std::string log, const std::string& mac) {
        return log.replace(log.find("b8:27:eb:3c:4f:01"), 17, mac);
    };
    const std::string a = "b8:27:eb:00:00:0a", b = "b8:27:eb:00:00:0b", c = "b8:27:eb:00:00:0c",
                      d = "b8:27:eb:00:00:0d";
    std::ofstream(dir.path() / "line.log", std::ios::binary)
        << unit(kPass, a) << unit(kFail, b) << unit(kFail, c) << unit(kHalfPass, d) << "\n"
        << unit(kPass, d) << unit(kPass, b) << unit(kFail, c) << unit(kFail, "not a mac:xx:xx:xx")
        << transcript("normal-boot-prism-1v1-eu") << transcript("unsupported-id");
    output(kStation + " import --db " + (dir.path() / "line.db").string() + " " +
           (dir.path() / "line.log").string());
    const auto cli = [&dir](const std::string& args) {
        return output(kStation + " " + args + " --db " + (dir.path() / "line.db").string());
    };
    EXPECT_EQ(cli("stats --json"),
              "{\"units\":4,\"testedUnits\":4,\"attempts\":6,\"firstPassYield\":0.5000,"
              "\"finalYield\":0.7500,\"retests\":2,\"incomplete\":1,\"unidentified\":1,"
              "\"normalBoots\":1,\"unsupported\":1,"
              "\"failures\":[{\"kind\":\"test\",\"name\":\"RTC\",\"count\":4}]}\n");
    // Within one model's runs, B's first attempt is its pass.
    EXPECT_EQ(cli("stats --json --model crate-1v0-b-eu"),
              "{\"units\":3,\"testedUnits\":3,\"attempts\":3,\"firstPassYield\":1.0000,"
              "\"finalYield\":1.0000,\"retests\":0,\"incomplete\":1,\"unidentified\":0,"
              "\"normalBoots\":0,\"unsupported\":0,\"failures\":[]}\n");
}

}  // namespace
