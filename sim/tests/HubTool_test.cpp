// bw-hub: its options as scenarios, its live view piped and on a terminal, its endings and
// its transcript, with a stand-in program in place of bw-selftest.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <regex>

#include "HubTestSupport.hpp"
#include "hub/Hub.hpp"
#include "tools/Console.hpp"
#include "tools/HubOptions.hpp"
#include "tools/RunOrder.hpp"

namespace {

using bw_sim::DeviceEntry;
using bw_sim::Entry;
using bw_sim::Hook;
using bw_sim::Outcome;
using bw_sim::RtcClock;
using bw_sim::RtcRegistration;
using bw_sim::Scenario;
using bw_sim::tool::ToolOptions;
using std::chrono::milliseconds;

bw_sim::uart::Scenario module(const std::function<void(bw_sim::uart::Scenario&)>& change) {
    bw_sim::uart::Scenario made;
    change(made);
    return made;
}

TEST(HubToolOptions, EachOptionLineGivesItsScenario) {
    const struct {
        std::vector<std::string> args;
        Scenario expected;
    } cases[] = {
        {{}, Scenario()},
        {{"--model", "crate-1v0-b-eu"}, Scenario().model("crate-1v0-b-eu")},
        {{"--model=toaster oven"}, Scenario().model("toaster oven")},
        {{"--no-model-file"}, Scenario().noModelFile()},
        {{"--normal-boot"}, Scenario().firstBoot(false)},
        {{"--marker", "directory"}, Scenario().firstBootMarker(Entry::directory)},
        {{"--interfaces", "wlan0"}, Scenario().noInterface("eth0")},
        {{"--interfaces", "eth0=,usb0"},
         Scenario()
             .noInterface("wlan0")
             .interface("eth0", "")
             .interface("usb0", "b8:27:eb:3c:4f:10\n")},
        {{"--interfaces", "none"}, Scenario().noInterface("eth0").noInterface("wlan0")},
        {{"--rtc", "valid=0"}, Scenario().rtc(RtcClock::valid("0\n"))},
        {{"--rtc", "invalid"}, Scenario().rtc(RtcClock::invalid())},
        {{"--rtc", "unregistered=2000"},
         Scenario()
             .rtc(RtcClock::unregistered())
             .rtcRegistration(RtcRegistration::appearsAfter(milliseconds(2000)))},
        {{"--rtc", "no-chip"},
         Scenario().rtc(RtcClock::unregistered()).rtcRegistration(RtcRegistration::noDevice())},
        {{"--rtc", "refused=13"},
         Scenario().rtc(RtcClock::unregistered()).rtcRegistration(RtcRegistration::refused(13))},
        {{"--enocean", "absent"}, Scenario().noEnOceanModule()},
        {{"--enocean", "ttyUSB0,silent,rc=2"},
         Scenario().enoceanModule(module([](bw_sim::uart::Scenario& m) {
             m.paths = {"/dev/ttyUSB0"};
             m.baseIdRequests.then.silent = m.telegrams.then.silent = true;
             m.telegrams.then.returnCode = 2;
         }))},
        {{"--zwave", "absent", "--zigbee", "late=300"},
         Scenario().zwave(DeviceEntry::absent()).zigbee(DeviceEntry::after(milliseconds(300)))},
        {{"--fail", "bw-drop bw-selftest factory-tool=2", "--fail", "hwclock"},
         Scenario()
             .command("bw-drop bw-selftest factory-tool", Outcome::failsTimes(2))
             .program("hwclock", Outcome::fails())},
        {{"--fail", "bw-zw-flash -x=always", "--missing", "poweroff"},
         Scenario().command("bw-zw-flash -x", Outcome::fails()).missingProgram("poweroff")},
        {{"--pre-hook", "0", "--post-hook", "3"},
         Scenario()
             .preHook(Hook::runs(Outcome::succeeds()))
             .postHook(Hook::runs(Outcome::fails(3)))},
        {{"--pre-hook", "not-executable"},
         Scenario().preHook(Hook::file("#!/bin/sh\nexit 0\n", 0644))},
        {{"--certificate", "--no-key", "--keepssh"},
         Scenario().certificate(true).registrationKey(false).keepSsh(true)},
        {{"--exported", "leds"},
         Scenario().exported(11, true, 0).exported(12, true, 0).exported(13, true, 0)},
        {{"--exported", "11=1,20", "--permission-delay", "50"},
         Scenario()
             .exported(11, true, 1)
             .exported(20, true, 0)
             .directionDeniedAfterExport(milliseconds(50))},
    };
    for (const auto& c : cases) {
        ToolOptions options;
        EXPECT_EQ("", bw_sim::tool::parseOptions(c.args, "/bin/true", options)) << c.args.size();
        // A row whose scenario reads as the default one would pass without its option.
        EXPECT_TRUE(c.args.empty() || c.expected.describe() != Scenario().describe());
        EXPECT_EQ(c.expected.describe(), options.scenario.describe())
            << testing::PrintToString(c.args);
    }
    ToolOptions noisy;
    bw_sim::tool::parseOptions({"--enocean", "noisy"}, "/bin/true", noisy);
    EXPECT_NE(std::string::npos,
              noisy.scenario.describe().find("telegrams: answers, first 13 55 00"));

    ToolOptions watching;
    EXPECT_EQ(
        "", bw_sim::tool::parseOptions({"--limit", "1500ms", "--transcript", "/tmp/t", "--no-color",
                                        "--console", "/tmp/c", "--hold", "2s", "/bin/sh"},
                                       "/bin/true", watching));
    EXPECT_EQ(milliseconds(1500), watching.limit);
    EXPECT_EQ("/tmp/t", watching.transcript);
    EXPECT_EQ("/tmp/c", watching.console);
    EXPECT_EQ(milliseconds(2000), watching.hold);
    EXPECT_TRUE(watching.noColor);
    EXPECT_EQ("/bin/sh", watching.program);
    ToolOptions standard;
    bw_sim::tool::parseOptions({"--limit=5m"}, "/bin/true", standard);
    EXPECT_EQ(milliseconds(300000), standard.limit);
    EXPECT_EQ("/bin/true", standard.program);
}

TEST(HubToolOptions, AWrongLineGetsOneLineSayingWhatToDo) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--bogus"}, "unknown option --bogus (bw-hub --help lists the options)"},
        {{"--rtc"},
         "--rtc needs a value: valid[=SECONDS], invalid, unregistered[=MS], no-chip or "
         "refused[=ERRNO]"},
        {{"--zwave", "late=soon"},
         "bad value 'late=soon' for --zwave: use present, absent or late=MS"},
        {{"--fail", "svc=0"},
         "bad value 'svc=0' for --fail: use 'COMMAND LINE'[=TIMES|=always] or "
         "PROGRAM[=TIMES|=always]"},
        {{"--limit", "0s"}, "bad value '0s' for --limit: use a duration such as 90s, 5m or 1500ms"},
        {{"--exported", "60"},
         "bad value '60' for --exported: use leds, none, or a list of GPIO[=LEVEL]"},
        {{"--enocean", "ttyAMA0,loud"},
         "bad value 'ttyAMA0,loud' for --enocean: use a list of absent, ttyAMA0, ttyUSB0, silent, "
         "noisy, rc=CODE"},
        {{"/no/such/program"},
         "no program at /no/such/program (build it with scripts/build, or name another program as "
         "the last argument)"},
        {{"/etc/passwd"},
         "/etc/passwd is not an executable file (chmod +x it, or name another program)"},
        {{"/bin/sh", "--normal-boot"},
         "the program to run comes last; --normal-boot follows /bin/sh"},
    };
    for (const auto& [args, error] : cases) {
        ToolOptions options;
        EXPECT_EQ(error, bw_sim::tool::parseOptions(args, "/bin/true", options));
    }
}

// What RunOrder lets through, as "kind:text|...".
std::string dueText(bw_sim::tool::RunOrder& order, long nowUs) {
    std::string text;
    const bw_sim::tool::Micros settle(20000), patternSettle(500000);
    for (const auto& event : order.due(bw_sim::tool::Micros(nowUs), settle, patternSettle, false)) {
        const char* kinds[] = {"out", "err", "leds", "started", "ended"};
        text += std::string(kinds[static_cast<int>(event.kind)]) + ":" + event.text + "|";
    }
    return text;
}

TEST(HubToolOrder, EventsGoBetweenTheOutputWrittenBeforeAndAfterThem) {
    using bw_sim::tool::Event;
    using bw_sim::tool::Micros;
    const auto make = [](Event::Kind kind, long at, std::size_t out, std::size_t err, bool ends) {
        Event event;
        event.kind = kind;
        event.at = Micros(at);
        event.position[0] = out;
        event.position[1] = err;
        event.endsPattern = ends;
        return event;
    };
    bw_sim::tool::RunOrder order;
    // Collected late, in one piece: a line written before the LED pattern and one after.
    order.collected(false, "before\nafter\n", Micros(900));
    order.collected(true, "oops\n", Micros(950));
    order.add(make(Event::Kind::leds, 100, 7, 0, false));
    order.add(make(Event::Kind::started, 300, 13, 0, false));
    order.add(make(Event::Kind::leds, 200, 7, 0, true));
    order.add(make(Event::Kind::ended, 400, 13, 5, false));
    order.add(make(Event::Kind::leds, 600, 19, 5, true));  // its output is not here yet
    EXPECT_EQ("out:before\n|leds:|leds:|out:after\n|", dueText(order, 10000));  // start settles
    EXPECT_EQ("started:|err:oops\n|ended:|", dueText(order, 30000));
    EXPECT_EQ("", dueText(order, 40000));
    order.collected(false, "later\n", Micros(41000));
    EXPECT_EQ("out:later\n|leds:|", dueText(order, 42000));
    order.add(make(Event::Kind::leds, 43000, 19, 5, false));  // a pattern that never ends
    EXPECT_EQ("", dueText(order, 44000));
    EXPECT_EQ("leds:|", dueText(order, 543000));
}

// One run of bw-hub: its exit status and what it wrote.
struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

ToolRun runTool(std::vector<std::string> args) {
    args.insert(args.begin(), BW_HUB_PATH);
    bw_sim::ProgramRun run(args);
    ToolRun result;
    EXPECT_TRUE(run.waitForExit(milliseconds(30000)));
    result.status = WIFEXITED(run.waitStatus()) ? WEXITSTATUS(run.waitStatus()) : -1;
    result.out = run.out();
    result.err = run.err();
    return result;
}

// The same with standard output and error on a pseudo-terminal.
ToolRun runToolOnTerminal(std::vector<std::string> args) {
    args.insert(args.begin(), BW_HUB_PATH);
    ToolRun result;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const std::string slavePath = ::ptsname(master);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY);
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (slave >= 0 && ::dup2(slave, 1) == 1 && ::dup2(slave, 2) == 2) {
            ::execv(argv[0], argv.data());
        }
        ::_exit(127);
    }
    char buffer[4096];
    ssize_t n = 0;
    pollfd pfd{master, POLLIN, 0};
    while (::poll(&pfd, 1, 30000) == 1 && (n = ::read(master, buffer, sizeof buffer)) > 0) {
        result.out.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(master);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class HubToolRun : public ::testing::Test {
  protected:
    void SetUp() override { BW_REQUIRE_HUB(); }
};

// Each of `lines` in `text`, in this order.
void expectInOrder(const std::string& text, const std::vector<std::string>& lines) {
    std::size_t at = 0;
    for (const std::string& line : lines) {
        const std::size_t found = text.find(line, at);
        ASSERT_NE(std::string::npos, found) << "missing, or out of order: " << line << "\nin:\n"
                                            << text;
        at = found + line.size();
    }
}

TEST_F(HubToolRun, ShowsEachEventAsItHappensAndAColourOnlyOnATerminal) {
    const ToolRun piped = runTool({"--model", "stand-in", "--fail", "svc=1", BW_STAND_IN_PATH});
    EXPECT_EQ(0, piped.status) << piped.err;
    expectInOrder(
        piped.out,
        {"bw-hub:   model file: \"stand-in\\n\"\n",
         "bw-hub:   command svc (every run): statuses 1 0\n",
         "s  out   corenode.model = \"stand-in\"\n", "s  err   stand-in: a warning\n",
         "s  LEDs  ○ ○ ●  testing\n", "s  out   Waiting for something…\n", "s  out   …: OK\n",
         "s  out   Running /usr/bin/svc -d /etc/service/mainbus\n",
         "s  cmd   /usr/bin/svc -d /etc/service/mainbus  → ", "exit 1", "s  LEDs  ○ ● ○  passed\n",
         "s  out   svc said 256; no line feed at the end…\n",
         "--- summary ---\ntests      none\nreport     no summary line\nLEDs       ○ ● ○  passed\n",
         "files      /var/lib/brambleway/.firstboot: removed (was a file)\n",
         "commands   exit 1    /usr/bin/svc -d /etc/service/mainbus\n",
         "bw-hub: bw-hub-stand-in waited for termination after "});
    EXPECT_EQ(std::string::npos, piped.out.find('\033'));
    EXPECT_EQ("", piped.err);

    const ToolRun terminal = runToolOnTerminal({"--model", "stand-in", BW_STAND_IN_PATH});
    EXPECT_EQ(0, terminal.status);
    expectInOrder(terminal.out, {"\033[32mout\033[0m   corenode.model", "\033[36mtesting\033[0m"});
    const ToolRun plain = runToolOnTerminal({"--no-color", "--model", "x", BW_STAND_IN_PATH});
    EXPECT_NE(std::string::npos, plain.out.find("LEDs  ○ ● ○  passed"));
    EXPECT_EQ(std::string::npos, plain.out.find('\033'));
}

TEST_F(HubToolRun, AProgramThatDoesNotWaitEndsTheToolWithOneLineSayingWhy) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--model", "exits"},
         "bw-hub: bw-hub-stand-in exited by itself with status 3 after [0-9]+ ms, instead of "
         "waiting for termination\n"},
        {{"--model", "crashes"},
         "bw-hub: bw-hub-stand-in crashed: signal 11 \\(Segmentation fault\\) after [0-9]+ ms, "
         "instead of waiting for termination\n"},
        {{"--model", "hangs", "--limit", "1s"},
         "bw-hub: bw-hub-stand-in did not reach its wait for termination within 1 s \\(--limit "
         "gives it longer\\)\n"},
    };
    for (auto [args, message] : cases) {
        args.push_back(BW_STAND_IN_PATH);
        const ToolRun run = runTool(args);
        EXPECT_EQ(1, run.status);
        EXPECT_TRUE(std::regex_match(run.err, std::regex(message))) << run.err;
        EXPECT_NE(std::string::npos, run.out.find("LEDs       ○ ● ○  passed\n")) << run.out;
    }
    const ToolRun wrong = runTool({"--rtc", "sideways"});
    EXPECT_EQ(2, wrong.status);
    EXPECT_EQ(0U, wrong.err.find("bw-hub: bad value 'sideways' for --rtc: use valid"));
    EXPECT_EQ(1, std::count(wrong.err.begin(), wrong.err.end(), '\n'));
    EXPECT_EQ(0, runTool({"--help"}).status);
}

TEST_F(HubToolRun, TheTranscriptHoldsTheStreamsExactlyAndWhatTheRunDid) {
    char directory[] = "/tmp/bw-hub-transcript-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(directory));
    const std::string where = std::string(directory) + "/run";
    const ToolRun run = runTool({"--transcript", where, "--model", "m", BW_STAND_IN_PATH});
    EXPECT_EQ(0, run.status) << run.err;
    using bw_sim_test::contentOf;
    EXPECT_EQ(
        "corenode.model = \"m\"\nWaiting for something: OK\n"
        "Running /usr/bin/svc -d /etc/service/mainbus\nsvc said 0; no line feed at the end",
        contentOf(where + "/stdout"));
    EXPECT_EQ("stand-in: a warning\n", contentOf(where + "/stderr"));
    EXPECT_TRUE(std::regex_match(contentOf(where + "/commands.txt"),
                                 std::regex("[0-9.]+\t[0-9.]+\texit 0\t/usr/bin/svc -d "
                                            "/etc/service/mainbus\n")));
    EXPECT_TRUE(std::regex_match(contentOf(where + "/leds.txt"),
                                 std::regex("([0-9.]+\t[-a-z ]+\t\n)*[0-9.]+\toff off on\ttesting\n"
                                            "[0-9.]+\toff on on\t\n[0-9.]+\toff on off\tpassed\n")))
        << contentOf(where + "/leds.txt");
    EXPECT_NE(std::string::npos,
              contentOf(where + "/files.txt")
                  .find("/var/lib/brambleway/.firstboot: removed (was a file)\n"));
    EXPECT_EQ(0, bw_sim_test::shell(std::string("rm -r ") + directory));
}

// A station on the console: it opens the link as soon as it is there and reads until the
// line hangs up. A stale link left by a killed hub is replaced; anything else is refused.
TEST_F(HubToolRun, TheConsoleCarriesBothStreamsAsASerialLineShowsThemForTheRunOnly) {
    std::string boot;
    for (const char* c = bw_sim::tool::kConsoleBootLines; *c != '\0'; ++c) {
        boot += *c == '\n' ? "\r\n" : std::string(1, *c);
    }
    const struct {
        std::string model;
        bool terminated;     // SIGTERM to bw-hub once the console shows the model line
        std::string before;  // at the path before the start: "" none, "link", "file"
        int status;
        std::string console;
    } cases[] = {
        {"m", false, "link", 0,
         boot + "corenode.model = \"m\"\r\nstand-in: a warning\r\nWaiting for something: "
                "OK\r\nRunning /usr/bin/svc -d /etc/service/mainbus\r\nsvc said 0; no line feed "
                "at the end"},
        {"hangs", true, "", -SIGTERM, boot + "corenode.model = \"hangs\"\r\n"},
        {"m", false, "file", 2, ""},
    };
    for (const auto& c : cases) {
        char directory[] = "/tmp/bw-hub-console-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(directory));
        const std::string path = std::string(directory) + "/console";
        if (c.before == "link") {
            ASSERT_EQ(0, ::symlink("/dev/pts/4095", path.c_str()));
        } else if (c.before == "file") {
            ASSERT_EQ(0, bw_sim_test::shell("printf keep > " + path));
        }
        bw_sim::ProgramRun tool(
            {BW_HUB_PATH, "--console", path, "--model", c.model, BW_STAND_IN_PATH});
        std::string console;
        char target[64] = "";
        for (int i = 0; i < 500 && c.status != 2; ++i) {
            const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, static_cast<std::size_t>(n)) != "/dev/pts/4095") {
                break;
            }
            ::usleep(10000);
        }
        const int fd = c.status == 2 ? -1 : ::open(path.c_str(), O_RDONLY | O_NOCTTY);
        char buffer[512];
        for (ssize_t n = 0; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            console.append(buffer, static_cast<std::size_t>(n));
            if (c.terminated && console.find("\"hangs\"\r\n") != std::string::npos) {
                ::kill(tool.pid(), SIGTERM);
            }
        }
        if (fd >= 0) {
            ::close(fd);
        }
        ASSERT_TRUE(tool.waitForExit(milliseconds(30000)));
        const int status = WIFEXITED(tool.waitStatus()) ? WEXITSTATUS(tool.waitStatus())
                                                        : -WTERMSIG(tool.waitStatus());
        EXPECT_EQ(c.status, status) << tool.err();
        // A run cut short shows what came before the cut, whatever came after it.
        EXPECT_EQ(c.console, c.terminated ? console.substr(0, c.console.size()) : console);
        if (c.status == 0) {
            expectInOrder(tool.out(), {"s  out   corenode.model = \"m\"\n",
                                       "s  err   stand-in: a warning\n", "--- summary ---\n"});
        }
        struct stat left {};
        EXPECT_EQ(c.before == "file", ::lstat(path.c_str(), &left) == 0) << c.model;
        if (c.status == 2) {
            EXPECT_EQ("bw-hub: --console: " + path +
                          " exists and is no console link; remove it or name another path\n",
                      tool.err());
            EXPECT_EQ("keep", bw_sim_test::contentOf(path));
        }
        EXPECT_EQ(0, bw_sim_test::shell(std::string("rm -r ") + directory));
    }
}

}  // namespace
