// Any bytes as a run's log: the record tool's reader and both writers must neither crash
// nor hang, and a log they call passed must carry no failed or unfinished part.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "record/LogReader.hpp"
#include "record/Writers.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bw_record;
    const RunRecord record = readLog(std::string(reinterpret_cast<const char*>(data), size));
    const std::string junit = junitRecord(record, "2026-12-08T09:30:00Z");
    const std::string json = jsonRecord(record, "");
    if (junit.empty() || json.empty()) {
        std::abort();
    }
    if (record.verdict == Verdict::passed) {
        for (const Section& section : record.tests) {
            if (section.outcome != Outcome::passed) {
                std::abort();
            }
        }
        for (const Section& section : record.steps) {
            if (section.outcome != Outcome::passed) {
                std::abort();
            }
        }
        if (junit.find("<failure") != std::string::npos || junit.find("<error") != std::string::npos) {
            std::abort();
        }
    }
    return 0;
}
