// Every non-passed run carries at least one failure or error, so that no JUnit reader
// counts it as a pass.
#include "record/Writers.hpp"

#include "record/Measurements.hpp"
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
    unsigned skipped = 0;
};

std::string property(const std::string& name, const std::string& value, const char* indent) {
    return std::string(indent) + "<property" + attribute("name", name) + attribute("value", value) +
           "/>\n";
}

// Each value, and for a value that misses its check that fact beside it.
std::string properties(const std::vector<Measurement>& measurements) {
    if (measurements.empty()) {
        return "";
    }
    std::string xml = "      <properties>\n";
    for (const Measurement& m : measurements) {
        xml += property(m.name, m.value, "        ");
        if (m.check == Measurement::Check::failed) {
            xml += property(m.name + ".check", "failed: " + m.limits, "        ");
        }
    }
    return xml + "      </properties>\n";
}

// The last line of the program's own kinds that says what it was doing.
std::string lastAction(const std::string& text) {
    static const std::string kinds[] = {"Running ",    "Reading ",     "Checking ",
                                        "Opening ",    "Requesting ",  "Sending ",
                                        "Setting up ", "Waiting for ", "Removing "};
    std::size_t last = std::string::npos;
    std::size_t lastEnd = 0;
    for (std::size_t line = 0; line < text.size();) {
        std::size_t end = text.find('\n', line);
        end = end == std::string::npos ? text.size() : end;
        for (const std::string& kind : kinds) {
            // The first byte first, which spares most compares.
            if (text[line] == kind[0] && text.compare(line, kind.size(), kind) == 0) {
                last = line;
                lastEnd = end;
            }
        }
        line = end + 1;
    }
    if (last == std::string::npos) {
        return "";
    }
    std::string action = text.substr(last, lastEnd - last);
    // The RTC's set-up names its file, and the file's answer, on the next line.
    if (action.compare(0, 11, "Setting up ") == 0 && lastEnd < text.size()) {
        const std::size_t next = text.find('\n', lastEnd + 1);
        action +=
            " " + text.substr(lastEnd + 1, next == std::string::npos ? next : next - lastEnd - 1);
    }
    return action;
}

std::string failedChecks(const std::vector<Measurement>& measurements) {
    std::string text;
    for (const Measurement& m : measurements) {
        if (m.check == Measurement::Check::failed) {
            text += "; " + m.name + " " + m.value + " is not " + m.limits;
        }
    }
    return text;
}

std::string testcase(const char* classname, const Section& section, const std::string& message,
                     Tally& tally, const std::vector<Measurement>& measurements = {}) {
    std::string xml = "    <testcase" + attribute("classname", classname) +
                      attribute("name", section.name) + ">\n" + properties(measurements);
    ++tally.tests;
    if (section.outcome == Outcome::notRun) {
        ++tally.skipped;
        xml += "      <skipped" + attribute("message", message) + "/>\n";
    } else if (section.outcome == Outcome::failed) {
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

std::string jsonMeasurements(const std::vector<Measurement>& measurements) {
    std::string json = "[";
    for (std::size_t i = 0; i < measurements.size(); ++i) {
        const Measurement& m = measurements[i];
        json += std::string(i == 0 ? "\n" : ",\n") + "      {\"name\": " + jsonQuoted(m.name) +
                ", \"type\": \"" + typeText(m.type) + "\", \"value\": " +
                (m.type == Measurement::Type::integer ? m.value : jsonQuoted(m.value));
        if (!m.limits.empty()) {
            json += ", \"limits\": " + jsonQuoted(m.limits);
        }
        json += ", \"check\": \"" + std::string(checkText(m.check)) + "\"}";
    }
    return json + (measurements.empty() ? "]" : "\n    ]");
}

// Tests carry their measurements (with `start`, the clock's offset among them).
std::string jsonSections(const std::vector<Section>& sections, const char* outcomeKey,
                         const char* textKey, const std::string* start) {
    std::string json = "[";
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Section& s = sections[i];
        json += std::string(i == 0 ? "\n" : ",\n") + "    {\"name\": " + jsonQuoted(s.name) +
                ", \"" + outcomeKey + "\": \"" + outcomeText(s.outcome) + "\"";
        if (start != nullptr) {
            json += ",\n     \"measurements\": " + jsonMeasurements(measurementsAt(s, *start)) +
                    ",\n    ";
        }
        json += std::string(start != nullptr ? " " : ", ") + "\"" + textKey +
                "\": " + jsonQuoted(s.text) + "}";
    }
    return json + (sections.empty() ? "]" : "\n  ]");
}

}  // namespace

std::string junitRecord(const RunRecord& record, const std::string& start) {
    Tally tally;
    std::string cases;
    for (const Section& test : record.tests) {
        const std::vector<Measurement> measurements = measurementsAt(test, start);
        const std::string action = lastAction(test.text);
        const std::string message =
            test.outcome != Outcome::failed
                ? record.reason
                : "FAIL" + (action.empty() ? "" : " after: " + action) + failedChecks(measurements);
        cases += testcase("bw-selftest.tests", test, message, tally, measurements);
    }
    for (const Section& step : record.steps) {
        const std::string action = lastAction(step.text);
        cases += testcase("bw-selftest.steps", step,
                          step.outcome == Outcome::notRun ? "not reached"
                          : step.outcome == Outcome::failed && !action.empty()
                              ? record.reason + " after: " + action
                              : record.reason,
                          tally);
    }
    if (record.verdict != Verdict::passed && tally.failures + tally.errors == 0) {
        Section run;
        run.name = "run";
        run.outcome = record.verdict == Verdict::failed ? Outcome::failed : Outcome::incomplete;
        cases += testcase("bw-selftest", run, record.reason, tally);
    }
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites" +
                      attribute("name", kJunitName) + ">\n  <testsuite" +
                      attribute("name", record.modelKnown ? record.model : "unknown model") +
                      attribute("tests", std::to_string(tally.tests)) +
                      attribute("failures", std::to_string(tally.failures)) +
                      attribute("errors", std::to_string(tally.errors)) +
                      attribute("skipped", std::to_string(tally.skipped));
    if (!start.empty()) {
        xml += attribute("timestamp", start);
    }
    xml += ">\n    <properties>\n";
    if (!record.unit.empty()) {
        xml += property("unit", record.unit, "      ");
    }
    xml += property("model", record.modelKnown ? record.model : "", "      ");
    xml += property("verdict", verdictText(record.verdict), "      ");
    xml += property("reason", record.reason, "      ");
    return xml + "    </properties>\n" + cases + "  </testsuite>\n</testsuites>\n";
}

std::string jsonRecord(const RunRecord& record, const std::string& start) {
    std::string json = "{\n  \"format\": \"" + std::string(kJsonFormat) + "\", \"version\": 2";
    json += ",\n  \"unit\": " + (record.unit.empty() ? "null" : jsonQuoted(record.unit));
    json += ",\n  \"model\": " + (record.modelKnown ? jsonQuoted(record.model) : "null");
    if (!start.empty()) {
        json += ",\n  \"start\": " + jsonQuoted(start);
    }
    json += ",\n  \"road\": \"" + std::string(roadText(record.road)) + "\"";
    json += ",\n  \"tests\": " + jsonSections(record.tests, "verdict", "narration", &start);
    json += ",\n  \"summary\": " + (record.summaryKnown ? jsonQuoted(record.summary) : "null");
    json += ",\n  \"steps\": " + jsonSections(record.steps, "outcome", "output", nullptr);
    json += ",\n  \"poweroff\": " + std::string(record.poweroffStarted ? "true" : "false");
    json += ",\n  \"verdict\": \"" + std::string(verdictText(record.verdict)) + "\"";
    return json + ",\n  \"reason\": " + jsonQuoted(record.reason) + "\n}\n";
}

}  // namespace bw_record
