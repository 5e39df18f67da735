// What bw-hub shows while the program runs, and after: one line per event, a summary, and
// the transcript files.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "fakes/CommandLog.hpp"
#include "hub/Leds.hpp"
#include "hub/Snapshot.hpp"

namespace bw_sim::tool {

using Micros = std::chrono::microseconds;

// One thing that happened, `at` counted from the program's start.
struct Event {
    enum class Kind { out, err, leds, started, ended };
    Micros at{0};
    Kind kind = Kind::out;
    std::string text;  // output piece or command line
    LedState leds;
    std::size_t command = 0;  // which run (for started and ended)
    int status = 0;           // as in CommandRecord
    Micros took{0};
    bool endsPattern = false;  // an LED write to the third LED, the last of a pattern
    // Where it happened in the program's standard output and error: the bytes written to
    // each by then (for output: where the piece starts).
    std::size_t position[2] = {0, 0};
};

class LiveView {
  public:
    LiveView(std::ostream& out, bool color) : out_(out), color_(color) {}

    // Shows events in the order given. `now`: a line the program has left unfinished this
    // long is shown as it is.
    void show(std::vector<Event> events, Micros now);
    // Shows every unfinished line.
    void finish();

  private:
    void output(const Event& event);
    void flushPartial(bool error);
    // `color` null: the mark as it is.
    void line(Micros at, const std::string& mark, const char* color, const std::string& text);
    std::string paint(const char* code, const std::string& text) const;

    std::ostream& out_;
    const bool color_;
    std::string partial_[2];
    Micros partialSince_[2];
    bool continued_[2] = {false, false};
    Micros lastAt_{0};
};

// "●", "○" or "-" for each LED.
std::string ledSymbols(const LedState& state);

struct Verdict {
    std::string test;
    std::string verdict;  // "PASS" or "FAIL"; empty while it has none
};

// The tests that the report on standard output names, with their verdicts, and its summary
// line ("All tests passed.", "2 tests failed.") or empty.
std::vector<Verdict> verdictsOf(const std::string& out, std::string& summaryLine);

struct RunRecord {
    std::string out;
    std::string err;
    std::vector<CommandRecord> commands;  // times from the program's start
    std::vector<LedChange> leds;          // likewise
    LedState lastLeds;
    std::vector<FileChange> files;
    std::vector<std::string> i2c;  // writes to the I2C adapter, as text
    std::vector<std::string> problems;
};

std::string summaryText(const RunRecord& run, bool color);

// Writes the transcript files into the directory `directoryFd`; empty, or what failed.
std::string writeTranscript(int directoryFd, const RunRecord& run);

}  // namespace bw_sim::tool
