// Any bytes as a run's log: the record tool's reader and both writers must neither crash
// nor hang, and a run they call passed must carry no failed or unfinished part. The unit is
// a well-formed MAC or none, and every measurement's value has its type's shape.
#include <cstddef>
#include <cstdint>
#include <string>

#include "check.hpp"
#include "record/LogReader.hpp"
#include "record/Measurements.hpp"
#include "record/Writers.hpp"

namespace {

// `form`: '9' a digit, 'h' a lower-case and 'H' an upper-case hex digit, else itself.
bool shaped(const std::string& value, const std::string& form) {
    if (value.size() != form.size()) {
        return false;
    }
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const bool digit = c >= '0' && c <= '9';
        const bool fits = form[i] == '9'   ? digit
                          : form[i] == 'h' ? digit || (c >= 'a' && c <= 'f')
                          : form[i] == 'H' ? digit || (c >= 'A' && c <= 'F')
                                           : c == form[i];
        if (!fits) {
            return false;
        }
    }
    return true;
}

void checkMeasurements(const bw_record::RunRecord& record) {
    using bw_record::Measurement;
    BW_FUZZ_CHECK(record.unit.empty() || shaped(record.unit, "hh:hh:hh:hh:hh:hh"));
    for (const bw_record::Section& test : record.tests) {
        for (const Measurement& m : bw_record::measurementsAt(test, "2026-12-08T09:30:00+01:00")) {
            BW_FUZZ_CHECK(m.check == Measurement::Check::none || !m.limits.empty());
            switch (m.type) {
                case Measurement::Type::mac:
                    BW_FUZZ_CHECK(shaped(m.value, "hh:hh:hh:hh:hh:hh"));
                    break;
                case Measurement::Type::hex32:
                    BW_FUZZ_CHECK(shaped(m.value, "0xHHHHHHHH"));
                    break;
                case Measurement::Type::integer:
                    BW_FUZZ_CHECK(!m.value.empty() &&
                                  m.value.find_first_not_of("-0123456789") == std::string::npos);
                    break;
                case Measurement::Type::time:
                    BW_FUZZ_CHECK(shaped(m.value, "9999-99-99T99:99:99Z"));
                    break;
                case Measurement::Type::text:
                    break;
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bw_record;
    const RunRecord record = readLog(std::string(reinterpret_cast<const char*>(data), size));
    const std::string junit = junitRecord(record, "2026-12-08T09:30:00Z");
    const std::string json = jsonRecord(record, "");
    BW_FUZZ_CHECK(!junit.empty() && !json.empty());
    checkMeasurements(record);
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
