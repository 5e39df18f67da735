// Every answer is made here from the database alone, so the command line's JSON and the live
// page's are the same documents.
#include "station/Reports.hpp"

#include <cstdio>

#include "record/LogReader.hpp"
#include "record/Writers.hpp"
#include "station/Json.hpp"
#include "station/Printable.hpp"
#include "station/Splitter.hpp"
#include "station/Store.hpp"
#include "station/Time.hpp"

namespace bw_station {

struct Reports::Row {
    std::int64_t id = 0;
    std::int64_t fixtureId = 0;
    std::string fixture;
    std::optional<std::string> unit, model;
    std::string road;
    std::optional<std::string> verdict, reason;
    double start = 0, end = 0;
    std::int64_t logStart = 0;
    std::optional<std::int64_t> logEnd;
    std::optional<std::uint64_t> decidedEnd;
};

namespace {

constexpr const char* kRunColumns =
    "SELECT r.id, r.fixture, f.name, r.unit, r.model, r.road, r.verdict, r.reason, r.start, "
    "r.end, r.log_start, r.log_end";

std::optional<std::string> optionalText(const Statement& s, int column) {
    return s.isNull(column) ? std::nullopt : std::optional<std::string>(s.text(column));
}

}  // namespace

void bindTime(Statement& s, int index, const std::string& text) {
    const std::optional<double> time = text.empty() ? std::nullopt : parseTime(text);
    if (time) {
        s.bind(index, *time);
    }
}

// The columns kRunColumns names, in its order.
Reports::Row Reports::rowOf(const Statement& s) {
    Reports::Row row;
    row.id = s.integer(0);
    row.fixtureId = s.integer(1);
    row.fixture = s.text(2);
    row.unit = optionalText(s, 3);
    row.model = optionalText(s, 4);
    row.road = s.text(5);
    row.verdict = optionalText(s, 6);
    row.reason = optionalText(s, 7);
    row.start = s.real(8);
    row.end = s.real(9);
    row.logStart = s.integer(10);
    if (!s.isNull(11)) {
        row.logEnd = s.integer(11);
    }
    return row;
}

Reports::Reports(const std::string& path) : db_(path, Access::readOnly) {}

std::vector<Reports::Row> Reports::runs(const RunQuery& query) {
    // A unit's runs come by its index; the other filters are few enough to scan.
    const char* const unit = query.unit.empty() ? "?1 = ''" : "r.unit = ?1";
    Statement s(db_, (std::string(kRunColumns) +
                      " FROM run r JOIN fixture f ON f.id = r.fixture WHERE " + unit +
                      " AND (?2 = '' OR f.name = ?2) "
                      "AND (?3 = '' OR r.model = ?3) AND (?4 = '' OR r.verdict = ?4) "
                      "AND (?5 IS NULL OR r.start >= ?5) AND (?6 IS NULL OR r.start < ?6) "
                      "ORDER BY r.start DESC, r.id DESC LIMIT ?7")
                         .c_str());
    s.bind(1, query.unit).bind(2, query.fixture).bind(3, query.model).bind(4, query.verdict);
    bindTime(s, 5, query.since);
    bindTime(s, 6, query.until);
    s.bind(7, static_cast<std::int64_t>(query.limit));
    std::vector<Row> rows;
    while (s.step()) {
        rows.push_back(rowOf(s));
    }
    return rows;
}

std::optional<Reports::Row> Reports::run(std::int64_t id) {
    Statement s(db_, (std::string(kRunColumns) +
                      ", r.decided_end FROM run r JOIN fixture f ON f.id = r.fixture "
                      "WHERE r.id = ?1")
                         .c_str());
    s.bind(1, id);
    if (!s.step()) {
        return std::nullopt;
    }
    Row row = rowOf(s);
    if (!s.isNull(12)) {
        row.decidedEnd = static_cast<std::uint64_t>(s.integer(12));
    }
    s.reset();
    return row;
}

// The record is made again from the bytes the verdict was read from (all of an open run's),
// so that storing a run costs no more than its bytes; the verdict is the stored one.
RunState Reports::replay(const Row& row) {
    std::optional<std::uint64_t> end = row.decidedEnd;
    if (!end && row.logEnd) {
        end = static_cast<std::uint64_t>(*row.logEnd);
    }
    RunState state = replayRun(db_, row.fixtureId, static_cast<std::uint64_t>(row.logStart), end,
                               StreamEnd::logEnd, "");
    if (row.verdict) {
        state.record.verdict = *row.verdict == "passed"       ? bw_record::Verdict::passed
                               : *row.verdict == "incomplete" ? bw_record::Verdict::incomplete
                                                              : bw_record::Verdict::failed;
        state.record.reason = row.reason.value_or("");
    }
    return state;
}

// Timed by the lines' arrival when the run was decided; an open run's as its stored chunks
// tell.
std::vector<TestTiming> Reports::tests(const Row& row, const RunState& replayed) {
    if (!row.verdict) {
        return replayed.tests;
    }
    Statement s(db_,
                "SELECT name, outcome, start, duration FROM test WHERE run = ?1 "
                "ORDER BY position");
    s.bind(1, row.id);
    std::vector<TestTiming> tests;
    while (s.step()) {
        tests.push_back({s.text(0), s.text(1), s.real(2), s.real(3)});
    }
    return tests;
}

namespace {

std::string rowFields(const std::string& fixture, std::int64_t id,
                      const std::optional<std::string>& unit,
                      const std::optional<std::string>& model, const std::string& road,
                      const std::optional<std::string>& verdict,
                      const std::optional<std::string>& reason, double start, double end) {
    return "{\"id\":" + number(id) + ",\"fixture\":" + quoted(fixture) +
           ",\"unit\":" + quotedOrNull(unit) + ",\"model\":" + quotedOrNull(model) +
           ",\"road\":" + quoted(road) + ",\"verdict\":" + quotedOrNull(verdict) +
           ",\"reason\":" + quotedOrNull(reason) + ",\"start\":" + quoted(isoTime(start)) +
           ",\"end\":" + quoted(isoTime(end));
}

}  // namespace

std::string Reports::runsJson(const RunQuery& query) {
    std::string json = "{\"runs\":[";
    bool first = true;
    for (const Row& r : runs(query)) {
        json += (first ? "" : ",") +
                rowFields(r.fixture, r.id, r.unit, r.model, r.road, r.verdict, r.reason, r.start,
                          r.end) +
                "}";
        first = false;
    }
    return json + "]}\n";
}

std::string Reports::runsText(const RunQuery& query) {
    std::string text =
        "   run  start                     fixture    unit              model                    "
        "verdict\n";
    for (const Row& r : runs(query)) {
        char line[512];
        std::snprintf(line, sizeof line, "%6lld  %s  %-10s %-17s %-24s %s\n",
                      static_cast<long long>(r.id), isoTime(r.start).c_str(),
                      printable(r.fixture).c_str(), printable(r.unit.value_or("-")).c_str(),
                      printable(r.model.value_or("-")).c_str(), r.verdict.value_or("open").c_str());
        text += line;
    }
    return text;
}

std::optional<std::string> Reports::runJson(std::int64_t id) {
    const std::optional<Row> r = run(id);
    if (!r) {
        return std::nullopt;
    }
    const RunState state = replay(*r);
    std::string tests = "[";
    for (const TestTiming& test : this->tests(*r, state)) {
        tests += (tests.size() > 1 ? "," : "") + std::string("{\"name\":") + quoted(test.name) +
                 ",\"outcome\":" + quoted(test.outcome) +
                 ",\"start\":" + quoted(isoTime(test.start)) +
                 ",\"duration\":" + number(test.duration) + "}";
    }
    return rowFields(r->fixture, r->id, r->unit, r->model, r->road, r->verdict, r->reason, r->start,
                     r->end) +
           ",\"record\":" + bw_record::jsonRecord(state.record, isoTime(r->start)) +
           ",\"tests\":" + tests + "]}\n";
}

std::optional<std::string> Reports::runText(std::int64_t id) {
    const std::optional<Row> r = run(id);
    if (!r) {
        return std::nullopt;
    }
    const RunState state = replay(*r);
    std::string text = "run      " + number(r->id) + " on fixture " + printable(r->fixture) +
                       "\nunit     " + printable(r->unit.value_or("-")) + "\nmodel    " +
                       printable(r->model.value_or("-")) + "\nroad     " + r->road + "\nverdict  " +
                       r->verdict.value_or("open") +
                       (r->reason ? ": " + printable(*r->reason) : "") + "\nstart    " +
                       isoTime(r->start) + "\nend      " + isoTime(r->end) + "\n";
    for (const TestTiming& test : tests(*r, state)) {
        char line[256];
        std::snprintf(line, sizeof line, "test     %-24s %-10s %8.1f s\n",
                      printable(test.name).c_str(), test.outcome.c_str(), test.duration);
        text += line;
    }
    for (const bw_record::Section& step : state.record.steps) {
        if (step.outcome != bw_record::Outcome::notRun) {
            text += "step     " + step.name + ": " + bw_record::outcomeText(step.outcome) + "\n";
        }
    }
    return text;
}

std::optional<std::string> Reports::runLog(std::int64_t id) {
    Statement s(db_, "SELECT fixture, log_start, log_end FROM run WHERE id = ?1");
    s.bind(1, id);
    if (!s.step()) {
        return std::nullopt;
    }
    const std::int64_t fixture = s.integer(0);
    const std::int64_t start = s.integer(1);
    // An open run reaches to the end of what its console has sent so far.
    const std::int64_t end = s.isNull(2) ? INT64_MAX : s.integer(2);
    s.reset();
    Statement chunks(db_,
                     "SELECT offset, bytes FROM chunk WHERE fixture = ?1 AND "
                     "offset + length(bytes) > ?2 AND offset < ?3 ORDER BY offset");
    chunks.bind(1, fixture).bind(2, start).bind(3, end);
    std::string log;
    while (chunks.step()) {
        const std::int64_t offset = chunks.integer(0);
        std::string bytes = chunks.text(1);
        if (offset + static_cast<std::int64_t>(bytes.size()) > end) {
            bytes.resize(static_cast<std::size_t>(end - offset));
        }
        log.append(bytes, static_cast<std::size_t>(std::max<std::int64_t>(0, start - offset)));
    }
    return log;
}

std::optional<std::string> Reports::runJunit(std::int64_t id) {
    const std::optional<Row> r = run(id);
    if (!r) {
        return std::nullopt;
    }
    return bw_record::junitRecord(replay(*r).record, isoTime(r->start));
}

std::optional<std::string> Reports::runRecordJson(std::int64_t id) {
    const std::optional<Row> r = run(id);
    if (!r) {
        return std::nullopt;
    }
    return bw_record::jsonRecord(replay(*r).record, isoTime(r->start));
}

}  // namespace bw_station
