// Every non-passed run carries at least one failure or error, so that no JUnit reader
// counts it as a pass.
#include "record/Writers.hpp"

#include "record/Text.hpp"

namespace bw_record {

namespace {

std::string attribute(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + xmlEscaped(value, true) + "\"";
}

struct Tally {
    unsigned tests = 0;
    unsigned failures = 0;
    unsigned errors = 0;
};

std::string testcase(const char* classname, const Section& section, const std::string& message,
                     Tally& tally) {
    std::string xml = "    <testcase" + attribute("classname", classname) +
                      attribute("name", section.name) + ">\n";
    ++tally.tests;
    if (section.outcome == Outcome::failed) {
        ++tally.failures;
        xml += "      <failure" + attribute("message", message) + "/>\n";
    } else if (section.outcome == Outcome::incomplete) {
        ++tally.errors;
        xml += "      <error" + attribute("message", message) + "/>\n";
    }
    if (!section.text.empty()) {
        xml += "      <system-out>" + xmlEscaped(section.text, false) + "</system-out>\n";
    }
    return xml + "    </testcase>\n";
}

std::string jsonSections(const std::vector<Section>& sections, const char* outcomeKey,
                         const char* textKey) {
    std::string json = "[";
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Section& s = sections[i];
        json += std::string(i == 0 ? "\n" : ",\n") + "    {\"name\": " + jsonQuoted(s.name) +
                ", \"" + outcomeKey + "\": \"" + outcomeText(s.outcome) + "\", \"" + textKey +
                "\": " + jsonQuoted(s.text) + "}";
    }
    return json + (sections.empty() ? "]" : "\n  ]");
}

}  // namespace

std::string junitRecord(const RunRecord& record, const std::string& start) {
    Tally tally;
    std::string cases;
    for (const Section& test : record.tests) {
        cases += testcase("bw-selftest.tests", test,
                          test.outcome == Outcome::failed ? "FAIL" : record.reason, tally);
    }
    for (const Section& step : record.steps) {
        if (step.outcome != Outcome::notRun) {
            cases += testcase("bw-selftest.steps", step, record.reason, tally);
        }
    }
    if (record.verdict != Verdict::passed && tally.failures + tally.errors == 0) {
        Section run{"run",
                    record.verdict == Verdict::failed ? Outcome::failed : Outcome::incomplete, ""};
        cases += testcase("bw-selftest", run, record.reason, tally);
    }
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n  <testsuite" +
                      attribute("name", record.modelKnown ? record.model : "unknown model") +
                      attribute("tests", std::to_string(tally.tests)) +
                      attribute("failures", std::to_string(tally.failures)) +
                      attribute("errors", std::to_string(tally.errors));
    if (!start.empty()) {
        xml += attribute("timestamp", start);
    }
    return xml + ">\n" + cases + "  </testsuite>\n</testsuites>\n";
}

std::string jsonRecord(const RunRecord& record, const std::string& start) {
    std::string json = "{\n  \"model\": " + (record.modelKnown ? jsonQuoted(record.model) : "null");
    if (!start.empty()) {
        json += ",\n  \"start\": " + jsonQuoted(start);
    }
    json += ",\n  \"road\": \"" + std::string(roadText(record.road)) + "\"";
    json += ",\n  \"tests\": " + jsonSections(record.tests, "verdict", "narration");
    json += ",\n  \"summary\": " + (record.summaryKnown ? jsonQuoted(record.summary) : "null");
    json += ",\n  \"steps\": " + jsonSections(record.steps, "outcome", "output");
    json += ",\n  \"poweroff\": " + std::string(record.poweroffStarted ? "true" : "false");
    json += ",\n  \"verdict\": \"" + std::string(verdictText(record.verdict)) + "\"";
    return json + ",\n  \"reason\": " + jsonQuoted(record.reason) + "\n}\n";
}

}  // namespace bw_record
