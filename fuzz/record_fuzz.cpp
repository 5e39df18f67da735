// Any bytes as a run's log: the record tool's reader and both writers must neither crash
// nor hang, and a run they call passed must carry no failed or unfinished part.
#include <cstddef>
#include <cstdint>
#include <string>

#include "check.hpp"
#include "record/LogReader.hpp"
#include "record/Writers.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bw_record;
    const RunRecord record = readLog(std::string(reinterpret_cast<const char*>(data), size));
    const std::string junit = junitRecord(record, "2026-12-08T09:30:00Z");
    const std::string json = jsonRecord(record, "");
    BW_FUZZ_CHECK(!junit.empty() && !json.empty());
    if (record.verdict != Verdict::passed) {
        // Whatever went wrong, a JUnit reader must not see a pass.
        BW_FUZZ_CHECK(junit.find("<failure") != std::string::npos ||
                      junit.find("<error") != std::string::npos);
        return 0;
    }
    BW_FUZZ_CHECK(record.summary == "All tests passed." && !record.tests.empty());
    for (const Section& section : record.tests) {
        BW_FUZZ_CHECK(section.outcome == Outcome::passed);
    }
    for (const Section& section : record.steps) {
        BW_FUZZ_CHECK(section.outcome == Outcome::passed);
    }
    BW_FUZZ_CHECK(junit.find("<failure") == std::string::npos &&
                  junit.find("<error") == std::string::npos);
    return 0;
}
