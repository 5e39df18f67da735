// One fixture's console stream cut into runs: a pure function of the bytes and the times they
// arrived, so that the live loop, the import and the tests all see the same runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "record/LogReader.hpp"
#include "record/Record.hpp"

namespace bw_station {

struct TestTiming {
    std::string name;
    std::string outcome;
    double start = 0;
    double duration = 0;
};

// What the store and the live view know of one run.
struct RunState {
    std::uint64_t serial = 0;  // per console, from 1
    std::uint64_t start = 0;   // stream offset of its model line
    std::uint64_t end = 0;     // stream offset after its last byte so far
    double startTime = 0;
    double endTime = 0;            // of its last byte, or of its verdict once decided
    bw_record::RunRecord record;   // the reader's, on the program's text without kernel lines
    bool decided = false;          // the verdict below no longer changes
    std::uint64_t decidedEnd = 0;  // the stream offset up to which the verdict was read
    bool ended = false;
    std::string verdict;  // passed, failed or incomplete once decided or ended
    std::string reason;
    std::vector<TestTiming> tests;
};

enum class EventKind { started, decided, ended };
struct RunEvent {
    EventKind kind;
    RunState run;
};

// Why the stream stopped before the next model line.
enum class StreamEnd {
    logEnd,  // an imported log: its last run is read as the record tool reads it
    lost,    // the console went away or the station stopped: an undecided run is incomplete
};

class Splitter {
  public:
    // Reads a run's text into its record: a pure function of the text.
    using Reader = std::function<bw_record::RunRecord(const std::string&)>;

    // `offset` continues the stream after the bytes an earlier session stored. A caller that
    // splits the same text more than once may hand in a reader that remembers its answers.
    explicit Splitter(std::uint64_t offset = 0, Reader reader = bw_record::readLog)
        : offset_(offset), reader_(std::move(reader)) {}

    void feed(std::string_view bytes, double time);
    // Reads lines not read yet (reading is spread out on a fast console) and settles a pass
    // that no failure line followed.
    void tick(double time);
    void finish(StreamEnd how, const std::string& why);

    std::vector<RunEvent> takeEvents() {
        std::vector<RunEvent> taken;
        taken.swap(events_);
        return taken;
    }
    // The run being received, or null.
    const RunState* open() const { return inRun_ ? &run_ : nullptr; }
    std::uint64_t offset() const { return offset_; }

  private:
    void line(std::string_view raw, std::uint64_t start, double time);
    void programLine(std::string_view text, std::uint64_t start, double time);
    void startRun(std::uint64_t start, double time, bool ttyLineEnds);
    void endRun(std::uint64_t end, StreamEnd how, const std::string& why);
    // `probe`: whether to ask if a failure line could still overturn a pass (a second
    // reading); without it an undecided pass stays undecided. A verdict is read from the
    // bytes before `at`, which the next model line does not belong to.
    void read(double time, bool probe, std::uint64_t at);
    void decide(std::uint64_t at);
    void timeTests();
    double timeAt(std::size_t at) const;

    std::uint64_t offset_;
    Reader reader_;
    // A partial line; at 64 KiB it is taken as a line, so one line never holds more.
    std::string line_;
    std::uint64_t lineStart_ = 0;
    // The program's part of a line a kernel message cut; bounded like a line.
    std::string carry_;
    std::uint64_t carryStart_ = 0;
    bool inRun_ = false;
    RunState run_;
    std::uint64_t serial_ = 0;
    bool ttyLineEnds_ = false;
    // The program's text of the open run; at 1 MiB or 32768 lines the run is decided
    // incomplete and the reader sees no more of it (its raw bytes are still stored).
    std::string text_;
    struct LineAt {
        std::size_t at;
        double time;
    };
    std::vector<LineAt> lines_;
    bool unread_ = false;
    double lastRead_ = 0;
    double passedSince_ = -1;  // a pass that a failure line could still overturn
    std::vector<RunEvent> events_;
};

// The program's text of raw console bytes: kernel messages and their line ends taken out.
std::string withoutKernelLines(std::string_view raw);

// "passed", "failed", "incomplete", "normal-boot" or "unsupported": what a run came to.
std::string outcomeOf(const RunState& run);

}  // namespace bw_station
