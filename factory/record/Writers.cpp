// Every non-passed run carries at least one failure or error, so that no JUnit reader
// counts it as a pass. Each record is built by adding to one string: a log's texts are
// long, and every copy of them cost time.
#include "record/Writers.hpp"

#include "record/Measurements.hpp"
#include "record/Text.hpp"

namespace bw_record {

namespace {

void attribute(std::string& xml, const char* name, const std::string& value) {
    xml += ' ';
    xml += name;
    xml += "=\"";
    appendXmlEscaped(xml, value, true);
    xml += '"';
}

// Enough for one test case's (or the head's) markup and short attributes.
constexpr std::size_t kCaseMarkupBytes = 512;

// Room for a record's texts and markup, reserved up front: growing by doubling copies them.
std::size_t roomFor(const RunRecord& record) {
    std::size_t bytes = kCaseMarkupBytes;
    for (const auto* sections : {&record.tests, &record.steps}) {
        for (const Section& section : *sections) {
            bytes += section.text.size() + kCaseMarkupBytes;
        }
    }
    return bytes;
}

struct Tally {
    unsigned tests = 0;
    unsigned failures = 0;
    unsigned errors = 0;
    unsigned skipped = 0;

    void count(Outcome outcome) {
        ++tests;
        failures += outcome == Outcome::failed ? 1U : 0U;
        errors += outcome == Outcome::incomplete ? 1U : 0U;
        skipped += outcome == Outcome::notRun ? 1U : 0U;
    }
};

// A run that did not pass, yet has no failed or unfinished test or step, gets a case of
// its own that says so.
bool hasRunCase(const RunRecord& record) {
    if (record.verdict == Verdict::passed) {
        return false;
    }
    for (const auto* sections : {&record.tests, &record.steps}) {
        for (const Section& section : *sections) {
            if (section.outcome == Outcome::failed || section.outcome == Outcome::incomplete) {
                return false;
            }
        }
    }
    return true;
}

Section runCase(const RunRecord& record) {
    Section run;
    run.name = "run";
    run.outcome = record.verdict == Verdict::failed ? Outcome::failed : Outcome::incomplete;
    return run;
}

// The suite's counts, which its head carries before the cases.
Tally tallyOf(const RunRecord& record) {
    Tally tally;
    for (const auto* sections : {&record.tests, &record.steps}) {
        for (const Section& section : *sections) {
            tally.count(section.outcome);
        }
    }
    if (hasRunCase(record)) {
        tally.count(runCase(record).outcome);
    }
    return tally;
}

void property(std::string& xml, const std::string& name, const std::string& value,
              const char* indent) {
    xml += indent;
    xml += "<property";
    attribute(xml, "name", name);
    attribute(xml, "value", value);
    xml += "/>\n";
}

// Each value, and for a value that misses its check that fact beside it.
void properties(std::string& xml, const std::vector<Measurement>& measurements) {
    if (measurements.empty()) {
        return;
    }
    xml += "      <properties>\n";
    for (const Measurement& m : measurements) {
        property(xml, m.name, m.value, "        ");
        if (m.check == Measurement::Check::failed) {
            property(xml, m.name + ".check", "failed: " + m.limits, "        ");
        }
    }
    xml += "      </properties>\n";
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

void testcase(std::string& xml, const char* classname, const Section& section,
              const std::string& message, const std::vector<Measurement>& measurements = {}) {
    xml += "    <testcase";
    attribute(xml, "classname", classname);
    attribute(xml, "name", section.name);
    xml += ">\n";
    properties(xml, measurements);
    const char* element = nullptr;
    if (section.outcome == Outcome::notRun) {
        element = "      <skipped";
    } else if (section.outcome == Outcome::failed) {
        element = "      <failure";
    } else if (section.outcome == Outcome::incomplete) {
        element = "      <error";
    }
    if (element != nullptr) {
        xml += element;
        attribute(xml, "message", message);
        xml += "/>\n";
    }
    if (!section.text.empty()) {
        xml += "      <system-out>";
        appendXmlEscaped(xml, section.text, false);
        xml += "</system-out>\n";
    }
    xml += "    </testcase>\n";
}

void jsonMeasurements(std::string& json, const std::vector<Measurement>& measurements) {
    json += '[';
    for (std::size_t i = 0; i < measurements.size(); ++i) {
        const Measurement& m = measurements[i];
        json += i == 0 ? "\n" : ",\n";
        json += "      {\"name\": ";
        appendJsonQuoted(json, m.name);
        json += ", \"type\": \"";
        json += typeText(m.type);
        json += "\", \"value\": ";
        if (m.type == Measurement::Type::integer) {
            json += m.value;
        } else {
            appendJsonQuoted(json, m.value);
        }
        if (!m.limits.empty()) {
            json += ", \"limits\": ";
            appendJsonQuoted(json, m.limits);
        }
        json += ", \"check\": \"";
        json += checkText(m.check);
        json += "\"}";
    }
    json += measurements.empty() ? "]" : "\n    ]";
}

// Tests carry their measurements (with `start`, the clock's offset among them).
void jsonSections(std::string& json, const std::vector<Section>& sections, const char* outcomeKey,
                  const char* textKey, const std::string* start) {
    json += '[';
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Section& s = sections[i];
        json += i == 0 ? "\n" : ",\n";
        json += "    {\"name\": ";
        appendJsonQuoted(json, s.name);
        json += ", \"";
        json += outcomeKey;
        json += "\": \"";
        json += outcomeText(s.outcome);
        json += '"';
        if (start != nullptr) {
            json += ",\n     \"measurements\": ";
            jsonMeasurements(json, measurementsAt(s, *start));
            json += ",\n    ";
        }
        json += start != nullptr ? " \"" : ", \"";
        json += textKey;
        json += "\": ";
        appendJsonQuoted(json, s.text);
        json += '}';
    }
    json += sections.empty() ? "]" : "\n  ]";
}

}  // namespace

std::string junitRecord(const RunRecord& record, const std::string& start) {
    const Tally tally = tallyOf(record);
    std::string xml;
    xml.reserve(roomFor(record));
    xml += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites";
    attribute(xml, "name", kJunitName);
    xml += ">\n  <testsuite";
    attribute(xml, "name", record.modelKnown ? record.model : "unknown model");
    attribute(xml, "tests", std::to_string(tally.tests));
    attribute(xml, "failures", std::to_string(tally.failures));
    attribute(xml, "errors", std::to_string(tally.errors));
    attribute(xml, "skipped", std::to_string(tally.skipped));
    if (!start.empty()) {
        attribute(xml, "timestamp", start);
    }
    xml += ">\n    <properties>\n";
    if (!record.unit.empty()) {
        property(xml, "unit", record.unit, "      ");
    }
    property(xml, "model", record.modelKnown ? record.model : "", "      ");
    property(xml, "verdict", verdictText(record.verdict), "      ");
    property(xml, "reason", record.reason, "      ");
    xml += "    </properties>\n";
    for (const Section& test : record.tests) {
        const std::vector<Measurement> measurements = measurementsAt(test, start);
        const std::string action = lastAction(test.text);
        const std::string message =
            test.outcome != Outcome::failed
                ? record.reason
                : "FAIL" + (action.empty() ? "" : " after: " + action) + failedChecks(measurements);
        testcase(xml, "bw-selftest.tests", test, message, measurements);
    }
    for (const Section& step : record.steps) {
        const std::string action = lastAction(step.text);
        testcase(xml, "bw-selftest.steps", step,
                 step.outcome == Outcome::notRun ? "not reached"
                 : step.outcome == Outcome::failed && !action.empty()
                     ? record.reason + " after: " + action
                     : record.reason);
    }
    if (hasRunCase(record)) {
        testcase(xml, "bw-selftest", runCase(record), record.reason);
    }
    xml += "  </testsuite>\n</testsuites>\n";
    return xml;
}

std::string jsonRecord(const RunRecord& record, const std::string& start) {
    std::string json;
    json.reserve(roomFor(record));
    json += "{\n  \"format\": \"";
    json += kJsonFormat;
    json += "\", \"version\": 2,\n  \"unit\": ";
    if (record.unit.empty()) {
        json += "null";
    } else {
        appendJsonQuoted(json, record.unit);
    }
    json += ",\n  \"model\": ";
    if (record.modelKnown) {
        appendJsonQuoted(json, record.model);
    } else {
        json += "null";
    }
    if (!start.empty()) {
        json += ",\n  \"start\": ";
        appendJsonQuoted(json, start);
    }
    json += ",\n  \"road\": \"";
    json += roadText(record.road);
    json += "\",\n  \"tests\": ";
    jsonSections(json, record.tests, "verdict", "narration", &start);
    json += ",\n  \"summary\": ";
    if (record.summaryKnown) {
        appendJsonQuoted(json, record.summary);
    } else {
        json += "null";
    }
    json += ",\n  \"steps\": ";
    jsonSections(json, record.steps, "outcome", "output", nullptr);
    json += ",\n  \"poweroff\": ";
    json += record.poweroffStarted ? "true" : "false";
    json += ",\n  \"verdict\": \"";
    json += verdictText(record.verdict);
    json += "\",\n  \"reason\": ";
    appendJsonQuoted(json, record.reason);
    json += "\n}\n";
    return json;
}

}  // namespace bw_record
