// Any console bytes, in any slicing: the station's splitting must neither crash nor hang, its
// runs must tile the stream from their model lines on, and how the bytes were sliced into
// reads must not change a single run.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
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
// one other.
using Readings = std::unordered_map<std::string, bw_record::RunRecord>;

std::vector<Run> split(std::string_view bytes, std::size_t slice, Readings& readings) {
    bw_station::Splitter splitter(0, [&readings](const std::string& text) {
        const auto known = readings.find(text);
        if (known != readings.end()) {
            bw_record::RunRecord record = std::move(known->second);
            readings.erase(known);
            return record;
        }
        bw_record::RunRecord record = bw_record::readLog(text);
        readings.emplace(text, record);
        return record;
    });
    for (std::size_t at = 0; at < bytes.size(); at += slice) {
        splitter.feed(bytes.substr(at, slice), 1);
    }
    splitter.finish(bw_station::StreamEnd::logEnd, "");
    std::vector<Run> runs;
    for (const bw_station::RunEvent& event : splitter.takeEvents()) {
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
    Readings readings;
    BW_FUZZ_CHECK(split(bytes, bytes.size() + 1, readings) ==
                  split(bytes, 1 + data[0] % 61, readings));
    return 0;
}
