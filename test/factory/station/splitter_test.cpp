// Console streams against the runs the station keeps of them: where each run starts and
// ends in the raw bytes, what it came to, and that kernel lines never reach the reader.
#include "station/Splitter.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <utility>

namespace {

using bw_station::EventKind;
using bw_station::RunEvent;
using bw_station::StreamEnd;

std::string transcript(const std::string& name) {
    for (const char* dir : {"/test/Main/transcripts/", "/test/factory/record/transcripts/"}) {
        std::ifstream in(BW_SOURCE_DIR + std::string(dir) + name + ".stdout", std::ios::binary);
        if (in) {
            std::ostringstream text;
            text << in.rdbuf();
            return text.str();
        }
    }
    ADD_FAILURE() << "no transcript " << name;
    return "";
}

// What a tty makes of the program's line feeds.
std::string crlf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return out;
}

// A kernel message written into the console after the first `after` in `text`.
std::string withKernelLine(std::string text, const std::string& after, double stamp = 12.345678) {
    char line[64];
    std::snprintf(line, sizeof line, "[%12.6f] usb 1-1: reset high-speed USB device\r\n", stamp);
    const std::size_t at = text.find(after);
    EXPECT_NE(at, std::string::npos) << after;
    return text.insert(at + after.size(), line);
}

const std::string kBootLoader =
    "U-Boot 2019.07\r\nStarting kernel ...\r\n[    0.000000] Booting Linux\r\n";
const std::string kPass = transcript("pass-prism-1v1-eu");
const std::string kMac = "b8:27:eb:3c:4f:01";

struct Expected {
    std::string outcome;
    std::string unit;
    std::string reasonStart;
};

struct Case {
    const char* name;
    std::vector<std::string> pieces;  // arriving one second apart
    StreamEnd end;
    std::vector<Expected> runs;
};

const std::vector<Case> kCases = {
    {"a passed run after the boot loader",
     {kBootLoader, crlf(kPass)},
     StreamEnd::logEnd,
     {{"passed", kMac, "every test passed"}}},
    {"a failure, then the hub boots again and passes",
     {transcript("second-test-fails"), kPass},
     StreamEnd::logEnd,
     {{"failed", kMac, "1 test failed"}, {"passed", kMac, "every test passed"}}},
    {"a failure and the next boot in one read",
     {transcript("second-test-fails") + kPass},
     StreamEnd::logEnd,
     {{"failed", kMac, "1 test failed"}, {"passed", kMac, "every test passed"}}},
    {"a reboot in the middle of a run",
     {transcript("cut-during-the-zwave-test"), "\r\n" + kBootLoader, kPass},
     StreamEnd::logEnd,
     {{"incomplete", "02:42:ac:11:00:02", "the log ends during the test Z-Wave"},
      {"passed", kMac, ""}}},
    {"kernel lines inside the model line, a banner and a verdict",
     {kBootLoader,
      withKernelLine(withKernelLine(withKernelLine(crlf(kPass), "corenode.mo"), "== Z-Wa"),
                     "\r\nPA", 3.5)},
     StreamEnd::logEnd,
     {{"passed", kMac, "every test passed"}}},
    {"binary noise, a line of megabytes, and talk after the verdict",
     {std::string("\0\xff\x1b[2J", 6) + std::string(3 << 20, 'x') + "\n", kPass,
      std::string(100000, '\x07') + "login: "},
     StreamEnd::logEnd,
     {{"passed", kMac, "every test passed"}}},
    {"a console that goes away in the middle of a run",
     {kPass.substr(0, kPass.find("All tests passed."))},
     StreamEnd::lost,
     {{"incomplete", kMac, "the console went away"}}},
    {"a normal boot and an unsupported model",
     {transcript("normal-boot-prism-1v1-eu"), transcript("unsupported-id")},
     StreamEnd::logEnd,
     {{"normal-boot", "", "normal boot"}, {"unsupported", "", "model not supported"}}},
    {"a run that never stops talking",
     {kPass.substr(0, kPass.find("Running /bin/sync")), std::string(3 << 20, 'y')},
     StreamEnd::logEnd,
     {{"incomplete", kMac, "the run printed more"}}},
};

TEST(Splitter, ConsoleStreamsBecomeRuns) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        bw_station::Splitter splitter(1000);
        std::string stream;
        std::vector<RunEvent> events;
        double time = 100;
        for (const std::string& piece : c.pieces) {
            // In uneven slices, as a serial adapter hands them over.
            for (std::size_t at = 0; at < piece.size(); at += 4093) {
                splitter.feed(std::string_view(piece).substr(at, 4093), time);
            }
            stream += piece;
            splitter.tick(time += 1);
        }
        splitter.finish(c.end, "the console went away during the run");
        for (RunEvent& event : splitter.takeEvents()) {
            if (event.kind == EventKind::ended) {
                events.push_back(std::move(event));
            }
        }
        ASSERT_EQ(events.size(), c.runs.size());
        std::uint64_t end = 1000 + stream.size();
        for (std::size_t i = c.runs.size(); i-- > 0;) {
            const bw_station::RunState& run = events[i].run;
            SCOPED_TRACE(i);
            EXPECT_EQ(bw_station::outcomeOf(run), c.runs[i].outcome);
            EXPECT_EQ(run.record.unit, c.runs[i].unit);
            EXPECT_EQ(run.reason.compare(0, c.runs[i].reasonStart.size(), c.runs[i].reasonStart), 0)
                << run.reason;
            // Every byte from its model line to the next one is the run's raw log, and the
            // verdict was read from none beyond it.
            EXPECT_EQ(run.end, end);
            EXPECT_LE(run.decidedEnd, run.end);
            const std::size_t model = stream.rfind("corenode.mo", run.end - 1000 - 1);
            EXPECT_EQ(run.start, 1000 + model);
            end = run.start;
        }
    }
}

// The verdict is stored the moment it is known, with bytes still to come; a pass waits for
// the failure line that may follow its last command, and each test is timed by its lines.
TEST(Splitter, DecidesOnceTheOutcomeIsKnownAndTimesEachTest) {
    struct Step {
        std::string bytes;
        double time;
        bool decided;
    };
    const std::string fails = transcript("second-test-fails");
    const std::size_t rtc = kPass.find("\n===================================== RTC");
    const std::size_t sync = kPass.find("Running /bin/sync") + 18;
    const std::vector<std::pair<std::string, std::vector<Step>>> table = {
        {"failed",
         {{fails.substr(0, fails.size() - 40), 10, false},
          {fails.substr(fails.size() - 40), 11, true}}},
        {"passed",
         {{kPass.substr(0, rtc), 10, false},
          {kPass.substr(rtc, sync - rtc), 25, false},
          {"", 30, false},
          {"", 35.5, true}}},
    };
    for (const auto& [verdict, steps] : table) {
        SCOPED_TRACE(verdict);
        bw_station::Splitter splitter;
        for (const Step& step : steps) {
            splitter.feed(step.bytes, step.time);
            splitter.tick(step.time);
            ASSERT_NE(splitter.open(), nullptr);
            EXPECT_EQ(splitter.open()->decided, step.decided) << step.time;
        }
        EXPECT_EQ(splitter.open()->verdict, verdict);
    }
    bw_station::Splitter splitter;
    splitter.feed(kPass.substr(0, rtc), 10);
    splitter.feed(kPass.substr(rtc, sync - rtc), 25);
    splitter.finish(StreamEnd::logEnd, "");
    const std::vector<RunEvent> events = splitter.takeEvents();
    const std::vector<bw_station::TestTiming>& tests = events.back().run.tests;
    ASSERT_EQ(tests.size(), 4u);
    EXPECT_EQ(tests[0].name, "Ethernet");
    EXPECT_DOUBLE_EQ(tests[0].start, 10);
    EXPECT_DOUBLE_EQ(tests[0].duration, 0);
    EXPECT_DOUBLE_EQ(tests[1].start, 25);
}

// Every field of an event, so that two splittings can be compared whole.
std::string described(const RunEvent& event) {
    const bw_station::RunState& run = event.run;
    std::ostringstream out;
    // Until a run ends its end is where the last read stopped.
    out << static_cast<int>(event.kind) << ' ' << run.serial << ' ' << run.start << '-'
        << (run.ended ? run.end : 0) << ' ' << run.startTime << '-' << run.endTime << ' '
        << run.decided << '@' << run.decidedEnd << ' ' << run.ended << ' ' << run.verdict << ' '
        << run.reason << '|' << run.record.unit << '|' << run.record.reason << '|'
        << run.record.tests.size();
    for (const bw_station::TestTiming& test : run.tests) {
        out << '|' << test.name << ' ' << test.outcome << ' ' << test.start << ' ' << test.duration;
    }
    return out.str();
}

// Every event, and how often the reader was asked, of `stream` fed in reads of `slice`
// bytes, all at once (as an imported log arrives).
std::pair<std::vector<std::string>, int> split(const std::string& stream, std::size_t slice,
                                               StreamEnd end) {
    int readings = 0;
    bw_station::Splitter splitter(0, [&readings](const std::string& text) {
        ++readings;
        return bw_record::readLog(text);
    });
    std::vector<std::string> events;
    for (std::size_t at = 0; at < stream.size(); at += slice) {
        splitter.feed(std::string_view(stream).substr(at, slice), 1);
    }
    splitter.finish(end, "gone");
    for (const RunEvent& event : splitter.takeEvents()) {
        events.push_back(described(event));
    }
    return {events, readings};
}

// However a stream is cut into reads, every event is the same: lines that span reads, kernel
// lines inside them, lines at the length limit and runs that follow one another. A run the
// log's end decides is read once, not once more with a failure line after it.
TEST(Splitter, TheSlicingOfTheReadsChangesNoEvent) {
    const std::string fails = transcript("second-test-fails");
    const struct {
        const char* name;
        std::string stream;
        StreamEnd end;
        int readings;  // in one read of the whole stream
    } cases[] = {
        {"a pass after the boot loader", kBootLoader + crlf(kPass), StreamEnd::logEnd, 1},
        {"a failure, the next boot's pass", fails + withKernelLine(kPass, "corenode.mo"),
         StreamEnd::logEnd, 3},
        {"kernel lines across a tty's lines",
         withKernelLine(withKernelLine(crlf(kPass), "== Z-Wa"), "\r\nPA", 3.5), StreamEnd::logEnd,
         1},
        {"lines longer than a line may be",
         std::string(200000, 'x') + "\n" + kPass + std::string(70000, 'z') + "\n" + kPass,
         StreamEnd::logEnd, 3},
        {"a console lost after the last command", kPass, StreamEnd::lost, 2},
        {"a console lost during a command", kPass.substr(0, kPass.find("All tests")),
         StreamEnd::lost, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto [whole, readings] = split(c.stream, c.stream.size(), c.end);
        EXPECT_EQ(readings, c.readings);
        for (const std::size_t slice : {std::size_t{1}, std::size_t{7}, std::size_t{4093}}) {
            SCOPED_TRACE(slice);
            EXPECT_EQ(split(c.stream, slice, c.end).first, whole);
        }
    }
}

TEST(Splitter, KernelLinesLeaveTheProgramsText) {
    EXPECT_EQ(bw_station::withoutKernelLines(withKernelLine("Running /usr/bin/svc\r\n", "Runn") +
                                             "[    1.000000] whole line\r\n"),
              "Running /usr/bin/svc\r\n");
}

}  // namespace
