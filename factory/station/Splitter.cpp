// A run is every byte from one model line to the next; the reader sees only the program's
// text of it, and the run's verdict is fixed once no byte to come could change it.
#include "station/Splitter.hpp"

#include <algorithm>
#include <utility>

#include "record/Suites.hpp"

namespace bw_station {

namespace {

constexpr std::size_t kMaxLine = std::size_t{64} * 1024;
constexpr std::size_t kMaxRunText = std::size_t{1024} * 1024;
constexpr std::size_t kMaxRunLines = 32768;
// Room for a whole run of the usual size from its start, so that its text is not copied again
// at each doubling.
constexpr std::size_t kUsualRunText = 4096;
constexpr std::size_t kUsualRunLines = 128;
// Reading again at each line of a fast console would cost the square of a run's length.
constexpr double kRereadSeconds = 0.25;
// A pass ends with the output of the last command, which a failure line may still follow.
constexpr double kSettleSeconds = 10;

const std::string kModelPrefix = "corenode.model = \"";
// What the program prints when a command of a step fails.
const std::string kFailureProbe = "\n FAIL\n";
// The reader's word for a command that was still running when the text ended.
const std::string kStillRunning = "nothing follows its output";

bool digit(char c) {
    return c >= '0' && c <= '9';
}

// Where a kernel message ("[   12.345678] ...") begins in `line`, or npos.
std::size_t kernelStamp(std::string_view line) {
    for (std::size_t at = line.find('['); at != std::string_view::npos;
         at = line.find('[', at + 1)) {
        std::size_t i = at + 1;
        while (i < line.size() && line[i] == ' ') {
            ++i;
        }
        const std::size_t whole = i;
        while (i < line.size() && digit(line[i])) {
            ++i;
        }
        if (i == whole || i >= line.size() || line[i] != '.') {
            continue;
        }
        const std::size_t fraction = ++i;
        while (i < line.size() && digit(line[i])) {
            ++i;
        }
        if (i - fraction == 6 && i < line.size() && line[i] == ']') {
            return at;
        }
    }
    return std::string_view::npos;
}

bool restsOnTheEnd(const bw_record::RunRecord& record) {
    return record.reason.size() >= kStillRunning.size() &&
           record.reason.compare(record.reason.size() - kStillRunning.size(), kStillRunning.size(),
                                 kStillRunning) == 0;
}

}  // namespace

std::string withoutKernelLines(std::string_view raw) {
    std::string text;
    for (std::size_t from = 0; from < raw.size();) {
        const std::size_t lineEnd = raw.find('\n', from);
        const std::size_t next = lineEnd == std::string_view::npos ? raw.size() : lineEnd + 1;
        const std::string_view line = raw.substr(from, next - from);
        text += line.substr(0, kernelStamp(line));
        from = next;
    }
    return text;
}

std::string outcomeOf(const RunState& run) {
    if (run.record.road == bw_record::Road::normalBoot) {
        return "normal-boot";
    }
    // A model the program tests but this reader has no suite for is not the hub's failure.
    if (run.record.road == bw_record::Road::unsupported ||
        (run.record.road == bw_record::Road::firstBoot &&
         bw_record::suiteOf(run.record.model).empty())) {
        return "unsupported";
    }
    return run.verdict;
}

void Splitter::feed(std::string_view bytes, double time) {
    for (std::size_t from = 0; from < bytes.size();) {
        const std::size_t lineEnd = bytes.find('\n', from);
        const std::size_t end = lineEnd == std::string_view::npos ? bytes.size() : lineEnd + 1;
        const std::size_t take = std::min(end - from, kMaxLine - line_.size());
        const std::string_view piece = bytes.substr(from, take);
        const std::uint64_t start = line_.empty() ? offset_ : lineStart_;
        offset_ += take;
        from += take;
        const bool whole = piece.back() == '\n' || line_.size() + take == kMaxLine;
        if (line_.empty() && whole) {
            // A line that arrived in one read needs no copy.
            line(piece, start, time);
        } else if (line_.empty()) {
            lineStart_ = start;
            line_.assign(piece);
        } else {
            line_.append(piece);
            if (whole) {
                line(line_, start, time);
                line_.clear();  // its room serves the next line
            }
        }
    }
    if (inRun_) {
        run_.end = offset_;
        // A run ends in time when its outcome is known; what follows is only kept.
        if (!run_.decided) {
            run_.endTime = time;
        }
    }
    if (unread_ && time - lastRead_ >= kRereadSeconds) {
        read(time, true, offset_);
    }
}

void Splitter::line(std::string_view raw, std::uint64_t start, double time) {
    const std::size_t stamp = kernelStamp(raw);
    if (stamp != std::string_view::npos) {
        if (carry_.empty()) {
            carryStart_ = start;
        }
        // The program's part goes on after the kernel's line.
        carry_.append(raw.substr(0, std::min(stamp, kMaxLine - carry_.size())));
        return;
    }
    if (carry_.empty()) {
        programLine(raw, start, time);
        return;
    }
    carry_.append(raw);
    programLine(carry_, carryStart_, time);
    carry_.clear();
}

void Splitter::programLine(std::string_view text, std::uint64_t start, double time) {
    if (text.compare(0, kModelPrefix.size(), kModelPrefix) == 0) {
        if (inRun_) {
            endRun(start, StreamEnd::logEnd, "");
        }
        startRun(start, time, text.size() >= 3 && text.compare(text.size() - 3, 3, "\"\r\n") == 0);
    }
    if (!inRun_ || run_.decided) {
        return;
    }
    std::string_view piece = text;
    if (ttyLineEnds_ && piece.size() >= 2 && piece.substr(piece.size() - 2) == "\r\n") {
        piece.remove_suffix(2);
    }
    if (text_.size() + piece.size() + 1 > kMaxRunText || lines_.size() == kMaxRunLines) {
        read(time, true, offset_);
        if (!run_.decided) {
            run_.record.verdict = bw_record::Verdict::incomplete;
            run_.record.reason = "the run printed more than the station reads of one run";
            decide(offset_);
        }
        return;
    }
    lines_.push_back({text_.size(), time});
    text_.append(piece);
    if (piece.size() < text.size()) {
        text_ += '\n';
    }
    unread_ = true;
}

void Splitter::startRun(std::uint64_t start, double time, bool ttyLineEnds) {
    run_ = RunState();
    run_.serial = ++serial_;
    run_.start = start;
    run_.end = offset_;
    run_.startTime = time;
    run_.endTime = time;
    inRun_ = true;
    ttyLineEnds_ = ttyLineEnds;
    text_.clear();
    text_.reserve(kUsualRunText);
    lines_.clear();
    lines_.reserve(kUsualRunLines);
    lastRead_ = time;
    passedSince_ = -1;
    if (events_.empty()) {
        events_.reserve(3);  // started, decided and ended, usually taken before the next run
    }
    events_.push_back({EventKind::started, run_});
}

void Splitter::tick(double time) {
    if (!inRun_ || run_.decided) {
        return;
    }
    if (unread_ && time - lastRead_ >= kRereadSeconds) {
        read(time, true, offset_);
    }
    if (!run_.decided && passedSince_ >= 0 && time - passedSince_ >= kSettleSeconds) {
        if (unread_) {  // a failure line may be among them
            read(time, true, offset_);
        }
        if (!run_.decided && passedSince_ >= 0) {
            decide(offset_);
        }
    }
}

void Splitter::finish(StreamEnd how, const std::string& why) {
    if (inRun_) {
        endRun(offset_, how, why);
    }
    line_.clear();
    carry_.clear();
}

double Splitter::timeAt(std::size_t at) const {
    const auto after = std::upper_bound(lines_.begin(), lines_.end(), at,
                                        [](std::size_t a, const LineAt& l) { return a < l.at; });
    return after == lines_.begin() ? run_.startTime : std::prev(after)->time;
}

// From the arrival of each test's banner to that of its verdict; a test still running has
// lasted until now.
void Splitter::timeTests() {
    run_.tests.clear();
    run_.tests.reserve(run_.record.tests.size());
    std::size_t cursor = 0;
    for (const bw_record::Section& test : run_.record.tests) {
        // The banner's line with the line end before it, without the empty line.
        const std::string_view banner =
            std::string_view(bw_record::bannerLine(test.name)).substr(1);
        const std::size_t at = text_.find(banner, cursor);
        if (at == std::string::npos) {
            break;
        }
        TestTiming timing{test.name, bw_record::outcomeText(test.outcome), timeAt(at + 1), 0};
        const std::size_t body = at + banner.size();
        double end = run_.endTime;
        if (test.outcome == bw_record::Outcome::passed ||
            test.outcome == bw_record::Outcome::failed) {
            cursor = std::min(text_.size(), body + test.text.size());
            end = timeAt(std::min(text_.size(), text_.find_first_not_of('\n', cursor)));
        }
        timing.duration = std::max(0.0, end - timing.start);
        run_.tests.push_back(std::move(timing));
    }
}

void Splitter::read(double time, bool probe, std::uint64_t at) {
    unread_ = false;
    lastRead_ = time;
    run_.record = reader_(text_);
    timeTests();
    const bw_record::RunRecord& record = run_.record;
    if (record.verdict == bw_record::Verdict::incomplete || restsOnTheEnd(record)) {
        passedSince_ = -1;
        return;
    }
    if (!probe) {
        return;
    }
    const bw_record::RunRecord failed = reader_(text_ + kFailureProbe);
    if (failed.verdict == record.verdict && failed.reason == record.reason) {
        decide(at);
    } else if (passedSince_ < 0) {
        passedSince_ = time;
    }
}

void Splitter::decide(std::uint64_t at) {
    run_.decided = true;
    run_.decidedEnd = at;
    run_.verdict = bw_record::verdictText(run_.record.verdict);
    run_.reason = run_.record.reason;
    events_.push_back({EventKind::decided, run_});
    // The text is not read again. Room of a usual run's size is kept for the next run, so that
    // a console of short runs does not allocate it anew for each.
    if (text_.capacity() > kUsualRunText) {
        text_ = std::string();
    } else {
        text_.clear();
    }
    if (lines_.capacity() > kUsualRunLines) {
        lines_ = std::vector<LineAt>();
    } else {
        lines_.clear();
    }
}

void Splitter::endRun(std::uint64_t end, StreamEnd how, const std::string& why) {
    if (!run_.decided) {
        // At a log's end an undecided run is decided at the end whatever the probe says, so
        // it is not read; a run the next model line cut is decided where the probe says.
        read(run_.endTime, how == StreamEnd::lost || end != offset_, end);
    }
    if (!run_.decided) {
        if (how == StreamEnd::lost) {
            run_.record.verdict = bw_record::Verdict::incomplete;
            run_.record.reason = why;
        }
        // A hub that booted again, or a log's end, settles what the reader says: a pass
        // that no failure line followed, or a command after which nothing came.
        decide(end);
    }
    run_.end = end;
    run_.ended = true;
    inRun_ = false;
    events_.push_back({EventKind::ended, std::move(run_)});  // the next run starts afresh
}

}  // namespace bw_station
