// The page of a real station following recorded hubs on pseudo-terminals, in headless
// chromium; and its JSON against the command line's.
#include <gtest/gtest.h>
#include <httplib.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Browser.hpp"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string transcript(const std::string& name) {
    std::ifstream in(std::string(BW_SOURCE_DIR) + "/test/Main/transcripts/" + name + ".stdout",
                     std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A hub's console: the station reads the terminal side, the test writes the other.
struct Console {
    Console() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return;
        }
        path = ::ptsname(master);
        // Raw from the start: bytes written before the station sets the line up must not
        // be echoed back or changed.
        const int terminal = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios mode{};
        if (terminal < 0 || ::tcgetattr(terminal, &mode) != 0) {
            ADD_FAILURE() << "cannot set up " << path;
        } else {
            ::cfmakeraw(&mode);
            ::tcsetattr(terminal, TCSANOW, &mode);
        }
        ::close(terminal);
    }
    ~Console() { ::close(master); }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    void write(const std::string& text) const {
        for (size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(master, text.data() + done, text.size() - done);
            if (n <= 0) {
                ADD_FAILURE() << "console write failed";
                return;
            }
            done += static_cast<size_t>(n);
        }
    }
    int master = -1;
    std::string path;
};

// Runs a command to its end; its standard output.
std::string output(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            out.append(buffer, n);
        }
        ::pclose(pipe);
    }
    return out;
}

// `bw-station run` on the consoles, serving its page on a free port.
class Station {
  public:
    Station(const std::string& database, const std::vector<std::string>& fixtures) {
        int err[2];
        if (::pipe2(err, O_CLOEXEC) != 0) {
            return;
        }
        std::vector<std::string> args = {BW_STATION, "run",      "--db",
                                         database,   "--listen", "127.0.0.1:0"};
        args.insert(args.end(), fixtures.begin(), fixtures.end());
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(err[1], 2);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            std::vector<char*> argv;
            for (auto& arg : args) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(err[1]);
        // It says where its page is; what it says after that is read and dropped, so that
        // it never waits on a full pipe.
        std::string said;
        char c;
        while (url.empty() && ::read(err[0], &c, 1) == 1) {
            said += c;
            const auto at = said.find("http://");
            if (c == '\n' && at != std::string::npos) {
                url = said.substr(at, said.find_first_of(" /\n", at + 7) - at);
            }
        }
        drain_ = std::thread([fd = err[0]] {
            char buffer[4096];
            while (::read(fd, buffer, sizeof buffer) > 0) {
            }
            ::close(fd);
        });
        EXPECT_FALSE(url.empty()) << said;
    }
    ~Station() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (drain_.joinable()) {
            drain_.join();
        }
    }
    std::string url;

  private:
    pid_t pid_ = -1;
    std::thread drain_;
};

const char kHostileModel[] =
    "corenode.model = \"<script>document.title='pwned'</script>\\\"><img src=x "
    "onerror=document.title='pwned'>\"\r\nModel not supported. Awaiting termination... \r\n";

std::string tile(const std::string& fixture) {
    return "document.querySelector('[data-fixture=\"" + fixture + "\"]')";
}

TEST(StationLine, TilesFollowTheConsolesAndTheJsonMatchesTheCommandLine) {
    ASSERT_EQ(std::system("command -v chromium >/dev/null"), 0)
        << "no chromium: scripts/ensure-deps --test installs it";
    const fs::path dir =
        fs::temp_directory_path() / ("bw-station-line-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string database = (dir / "station.db").string();
    {
        Console consoles[4];
        const std::string passing = transcript("pass-prism-1v1-eu");
        const auto zwave = passing.find("==== Z-Wave ====");
        ASSERT_NE(zwave, std::string::npos);
        Station station(database, {"F1=" + consoles[0].path, "F2=" + consoles[1].path,
                                   "F3=" + consoles[2].path, "F4=" + consoles[3].path});
        ASSERT_FALSE(station.url.empty());
        consoles[0].write(passing.substr(0, zwave + 80));
        consoles[1].write(transcript("two-tests-fail"));
        consoles[2].write(transcript("normal-boot-prism-1v1-eu"));
        consoles[3].write(kHostileModel);

        bw_test::Browser browser;
        const auto page = browser.open(station.url + "/");
        const std::string line =
            browser.when(page, tile("F1") + ".classList.contains('state-testing') && " +
                                   tile("F2") + ".classList.contains('state-failed') && " +
                                   tile("F3") + ".classList.contains('state-normal-boot') && " +
                                   tile("F4") + ".classList.contains('state-unsupported')");
        ASSERT_FALSE(line.empty()) << browser.evaluate(page, "document.body.outerHTML");
        for (const char* shown : {"Z-Wave 3/4", "<span>Z-Wave</span><b>…</b>", "prism-1v1-eu",
                                  "&lt;script&gt;document.title='pwned'&lt;/script&gt;"}) {
            EXPECT_NE(line.find(shown), std::string::npos) << shown << "\n" << line;
        }
        EXPECT_EQ(line.find("<img src=\"x\""), std::string::npos);
        EXPECT_NE(browser.evaluate(page, "document.title"), "pwned");
        EXPECT_EQ(browser.evaluate(page, tile("F2") + ".querySelectorAll('.outcome-fail').length"),
                  "2");

        // The hub's test ends: the same page, never reloaded, shows its verdict.
        browser.evaluate(page, "window.notReloaded = true");
        consoles[0].write(passing.substr(zwave + 80));
        const std::string after = browser.when(
            page, "window.notReloaded && " + tile("F1") + ".classList.contains('state-passed')");
        EXPECT_NE(after.find("b8:27:eb:3c:4f:01"), std::string::npos)
            << browser.evaluate(page, tile("F1") + ".outerHTML");
        browser.close(page);

        // The page's data are the command line's, byte for byte.
        httplib::Client client(station.url);
        const std::string cli = std::string(BW_STATION) + " ";
        const std::string db = " --db " + database;
        const auto runs = client.Get("/api/runs");
        ASSERT_TRUE(runs);
        EXPECT_EQ(runs->body, output(cli + "runs --json" + db));
        const auto stats = client.Get("/api/stats");
        ASSERT_TRUE(stats);
        EXPECT_EQ(stats->body, output(cli + "stats --json" + db));
        const auto firstId = runs->body.find("\"id\":");
        ASSERT_NE(firstId, std::string::npos);
        const std::string id = std::to_string(std::atoll(runs->body.c_str() + firstId + 5));
        const auto record = client.Get("/api/runs/" + id + "/record");
        ASSERT_TRUE(record);
        EXPECT_EQ(record->body, output(cli + "show" + db + " " + id + " --json -"));
        const auto log = client.Get("/api/runs/" + id + "/log");
        ASSERT_TRUE(log);
        EXPECT_EQ(log->body, output(cli + "show" + db + " " + id + " --log"));
    }
    fs::remove_all(dir);
}

}  // namespace
