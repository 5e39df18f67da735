// Any console bytes, in any slicing: the station's splitting must neither crash nor hang, its
// runs must tile the stream from their model lines on, and how the bytes were sliced into
// reads must not change a single run.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check.hpp"
#include "station/Splitter.hpp"

namespace {

// What a run came to is compared by what outcomeOf makes it of, which spares building the
// model's suite for every run twice.
struct Run {
    std::uint64_t start, end;
    bw_record::Road road;
    std::string model, verdict;
    bool operator==(const Run& o) const {
        return start == o.start && end == o.end && road == o.road && model == o.model &&
               verdict == o.verdict;
    }
};

// The reader is a pure function of a run's text, so a text the other slicing already had
// read gets the same record without a second reading, which would double the target's time;
// a slicing that hands the reader a different text still gets it read. Each reading serves
// one other. The second slicing asks for the same texts in the same order when it splits
// alike, so the readings are kept in order, their texts end to end in one string: a table
// keyed by a copy of each text cost more than the readings it spared.
class Readings {
  public:
    // Room for the usual input's readings: each run is read, and read again with a failure
    // line after it.
    explicit Readings(std::size_t inputSize) {
        texts_.reserve(2 * inputSize + 64);
        starts_.reserve(8);
        records_.reserve(8);
    }

    bw_record::RunRecord operator()(const std::string& text) {
        if (!reusing_) {
            starts_.push_back(texts_.size());
            texts_ += text;
            records_.push_back(bw_record::readLog(text));
            return records_.back();
        }
        for (std::size_t i = next_; i < records_.size(); ++i) {
            if (!taken_[i] && textOf(i) == text) {
                taken_[i] = true;
                next_ = i == next_ ? i + 1 : next_;
                return std::move(records_[i]);
            }
        }
        return bw_record::readLog(text);
    }
    // From now on readings are taken, not made.
    void reuse() {
        reusing_ = true;
        taken_.assign(records_.size(), false);
    }

  private:
    std::string_view textOf(std::size_t i) const {
        const std::size_t end = i + 1 < starts_.size() ? starts_[i + 1] : texts_.size();
        return std::string_view(texts_).substr(starts_[i], end - starts_[i]);
    }

    bool reusing_ = false;
    std::string texts_;
    std::vector<std::size_t> starts_;
    std::vector<bw_record::RunRecord> records_;
    std::vector<bool> taken_;
    std::size_t next_ = 0;  // the first reading not taken yet
};

std::vector<Run> split(std::string_view bytes, std::size_t slice, Readings& readings) {
    bw_station::Splitter splitter(0,
                                  [&readings](const std::string& text) { return readings(text); });
    for (std::size_t at = 0; at < bytes.size(); at += slice) {
        splitter.feed(bytes.substr(at, slice), 1);
    }
    splitter.finish(bw_station::StreamEnd::logEnd, "");
    const std::vector<bw_station::RunEvent> events = splitter.takeEvents();
    std::vector<Run> runs;
    runs.reserve(events.size() / 3 + 1);
    for (const bw_station::RunEvent& event : events) {
        if (event.kind == bw_station::EventKind::ended) {
            BW_FUZZ_CHECK(event.run.decided && event.run.start < event.run.end);
            BW_FUZZ_CHECK(event.run.verdict != "passed" ||
                          event.run.record.verdict == bw_record::Verdict::passed);
            runs.push_back({event.run.start, event.run.end, event.run.record.road,
                            event.run.record.model, event.run.verdict});
        }
    }
    for (std::size_t i = 0; i < runs.size(); ++i) {
        BW_FUZZ_CHECK(runs[i].end == (i + 1 < runs.size() ? runs[i + 1].start : bytes.size()));
    }
    return runs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    Readings readings(bytes.size());
    const std::vector<Run> whole = split(bytes, bytes.size() + 1, readings);
    readings.reuse();
    BW_FUZZ_CHECK(whole == split(bytes, 1 + data[0] % 61, readings));
    return 0;
}
