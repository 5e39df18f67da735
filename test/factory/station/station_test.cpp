// The station as the line runs it: a process following pseudo-terminals as consoles, killed,
// restarted, losing a console and finding it again; and the yield over a hand-made history.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

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
        std::ofstream{log_};  // what an earlier station said is not this one's
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
}

// An unplugged adapter ends its run as incomplete; the station opens the device again when
// it returns and follows the next run, without a restart.
TEST(Station, AConsoleGoesAwayAndComesBack) {
    Directory dir;
    Console a(dir.path() / "a");
    Station station(dir, {"A=" + (dir.path() / "a").string()});
    station.await("A: online");
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
