// Runs are byte ranges of the stream, so that a byte is stored once, the moment it is
// received, whichever run it turns out to belong to.
#include "station/Store.hpp"

#include <vector>

#include "station/Json.hpp"
#include "station/Time.hpp"

namespace bw_station {

namespace {

const char* const kSchema = R"(
CREATE TABLE IF NOT EXISTS fixture(
  id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, device TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS chunk(
  fixture INTEGER NOT NULL, offset INTEGER NOT NULL, time REAL NOT NULL, bytes BLOB NOT NULL,
  PRIMARY KEY(fixture, offset)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS run(
  id INTEGER PRIMARY KEY, fixture INTEGER NOT NULL, log_start INTEGER NOT NULL,
  log_end INTEGER, start REAL NOT NULL, end REAL NOT NULL, model TEXT, unit TEXT,
  road TEXT NOT NULL DEFAULT 'unknown', verdict TEXT, reason TEXT, decided_end INTEGER);
CREATE TABLE IF NOT EXISTS test(
  run INTEGER NOT NULL, position INTEGER NOT NULL, name TEXT NOT NULL, outcome TEXT NOT NULL,
  start REAL NOT NULL, duration REAL NOT NULL, PRIMARY KEY(run, position)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS failure(run INTEGER NOT NULL, kind TEXT NOT NULL, name TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS run_by_start ON run(start);
-- Covers the stats pass: units in order of their attempts, without visiting the table.
CREATE INDEX IF NOT EXISTS run_by_unit ON run(unit, start, id, road, verdict, model, fixture);
CREATE INDEX IF NOT EXISTS run_by_fixture ON run(fixture, start);
CREATE INDEX IF NOT EXISTS run_open ON run(log_end) WHERE log_end IS NULL;
CREATE INDEX IF NOT EXISTS failure_by_run ON failure(run);
)";

std::optional<std::string> unlessEmpty(const std::string& text) {
    return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

}  // namespace

std::string unitOf(const bw_record::RunRecord& record) {
    return record.unit;
}

Connection openDatabase(const std::string& path) {
    Connection db(path, Access::readWrite);
    // Committed transactions survive a power cut only when each commit reaches the disk.
    db.execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
    db.execute(kSchema);
    return db;
}

Store::Store(const std::string& path)
    : db_(openDatabase(path)),
      findFixture_(db_, "SELECT id FROM fixture WHERE name = ?1"),
      addFixture_(db_, "INSERT INTO fixture(name, device) VALUES (?1, ?2)"),
      setDevice_(db_, "UPDATE fixture SET device = ?2 WHERE id = ?1"),
      streamEnd_(db_,
                 "SELECT COALESCE(MAX(offset + length(bytes)), 0) FROM chunk WHERE fixture = ?1"),
      addChunk_(db_, "INSERT INTO chunk(fixture, offset, time, bytes) VALUES (?1, ?2, ?3, ?4)"),
      addRun_(db_, "INSERT INTO run(fixture, log_start, start, end) VALUES (?1, ?2, ?3, ?3)"),
      setRunProgress_(db_,
                      "UPDATE run SET model = ?2, unit = ?3, road = ?4, end = ?5 WHERE id = ?1"),
      setRunDecided_(db_,
                     "UPDATE run SET model = ?2, unit = ?3, road = ?4, end = ?5, verdict = ?6, "
                     "reason = ?7, decided_end = ?8 WHERE id = ?1"),
      setRunEnd_(db_, "UPDATE run SET log_end = ?2, end = ?3 WHERE id = ?1"),
      clearTests_(db_, "DELETE FROM test WHERE run = ?1"),
      addTest_(db_,
               "INSERT INTO test(run, position, name, outcome, start, duration) "
               "VALUES (?1, ?2, ?3, ?4, ?5, ?6)"),
      clearFailures_(db_, "DELETE FROM failure WHERE run = ?1"),
      addFailure_(db_, "INSERT INTO failure(run, kind, name) VALUES (?1, ?2, ?3)") {
    recover();
}

std::int64_t Store::fixture(const std::string& name, const std::string& device) {
    findFixture_.bind(1, name);
    if (findFixture_.step()) {
        const std::int64_t id = findFixture_.integer(0);
        findFixture_.reset();
        if (!device.empty()) {  // a fixture rewired keeps its history
            setDevice_.bind(1, id).bind(2, device).run();
        }
        return id;
    }
    addFixture_.bind(1, name).bind(2, device).run();
    return sqlite3_last_insert_rowid(db_.get());
}

std::uint64_t Store::streamEnd(std::int64_t fixture) {
    streamEnd_.bind(1, fixture);
    const std::uint64_t end =
        streamEnd_.step() ? static_cast<std::uint64_t>(streamEnd_.integer(0)) : 0;
    streamEnd_.reset();
    return end;
}

void Store::appendBytes(std::int64_t fixture, std::uint64_t offset, double time,
                        std::string_view bytes) {
    addChunk_.bind(1, fixture).bind(2, static_cast<std::int64_t>(offset)).bind(3, time);
    addChunk_.bindBlob(4, bytes).run();
}

std::int64_t Store::insertRun(std::int64_t fixture, const RunState& run) {
    addRun_.bind(1, fixture).bind(2, static_cast<std::int64_t>(run.start)).bind(3, run.startTime);
    addRun_.run();
    return sqlite3_last_insert_rowid(db_.get());
}

void Store::updateRun(std::int64_t id, const RunState& run) {
    const bw_record::RunRecord& record = run.record;
    const std::optional<std::string> model =
        record.modelKnown ? std::optional<std::string>(record.model) : std::nullopt;
    const std::string road = bw_record::roadText(record.road);
    if (!run.decided) {
        setRunProgress_.bind(1, id).bind(2, model).bind(3, unlessEmpty(unitOf(record)));
        setRunProgress_.bind(4, road).bind(5, run.endTime).run();
    } else {
        setRunDecided_.bind(1, id).bind(2, model).bind(3, unlessEmpty(unitOf(record)));
        setRunDecided_.bind(4, road).bind(5, run.endTime).bind(6, outcomeOf(run));
        setRunDecided_.bind(7, run.reason).bind(8, static_cast<std::int64_t>(run.decidedEnd));
        setRunDecided_.run();
        clearTests_.bind(1, id).run();
        for (std::size_t i = 0; i < run.tests.size(); ++i) {
            const TestTiming& test = run.tests[i];
            addTest_.bind(1, id).bind(2, static_cast<std::int64_t>(i)).bind(3, test.name);
            addTest_.bind(4, test.outcome).bind(5, test.start).bind(6, test.duration).run();
        }
        clearFailures_.bind(1, id).run();
        if (run.verdict == "failed" && record.road == bw_record::Road::firstBoot) {
            for (const bw_record::Section& test : record.tests) {
                if (test.outcome == bw_record::Outcome::failed) {
                    addFailure_.bind(1, id).bind(2, std::string_view("test"));
                    addFailure_.bind(3, test.name).run();
                }
            }
            for (const bw_record::Section& step : record.steps) {
                if (step.outcome == bw_record::Outcome::failed) {
                    addFailure_.bind(1, id).bind(2, std::string_view("step"));
                    addFailure_.bind(3, step.name).run();
                }
            }
        }
    }
    if (run.ended) {
        setRunEnd_.bind(1, id).bind(2, static_cast<std::int64_t>(run.end)).bind(3, run.endTime);
        setRunEnd_.run();
    }
}

RunState replayRun(const Connection& db, std::int64_t fixture, std::uint64_t start,
                   std::optional<std::uint64_t> end, StreamEnd how, const std::string& why) {
    Statement chunks(db,
                     "SELECT offset, time, bytes FROM chunk WHERE fixture = ?1 AND "
                     "offset + length(bytes) > ?2 AND (?3 IS NULL OR offset < ?3) "
                     "ORDER BY offset");
    chunks.bind(1, fixture).bind(2, static_cast<std::int64_t>(start));
    if (end) {
        chunks.bind(3, static_cast<std::int64_t>(*end));
    }
    Splitter splitter(start);
    double last = 0;
    while (chunks.step()) {
        const auto offset = static_cast<std::uint64_t>(chunks.integer(0));
        std::string bytes = chunks.text(2);
        if (end && offset + bytes.size() > *end) {
            bytes.resize(*end - offset);
        }
        const std::size_t skip = offset < start ? start - offset : 0;
        last = chunks.real(1);
        splitter.feed(std::string_view(bytes).substr(skip), last);
    }
    splitter.finish(how, why);
    RunState state;
    for (RunEvent& event : splitter.takeEvents()) {
        if (event.kind == EventKind::ended && event.run.serial == 1) {
            state = std::move(event.run);
        }
    }
    return state;
}

// A run the last session left open is read again from its stored bytes (with their
// arrival times) and ended as incomplete, unless its verdict was already stored.
void Store::recover() {
    struct Open {
        std::int64_t id, fixture, start;
        bool decided;
    };
    std::vector<Open> open;
    Statement find(db_,
                   "SELECT id, fixture, log_start, verdict IS NOT NULL FROM run "
                   "WHERE log_end IS NULL");
    while (find.step()) {
        open.push_back({find.integer(0), find.integer(1), find.integer(2), find.integer(3) != 0});
    }
    if (open.empty()) {
        return;
    }
    begin();
    for (const Open& run : open) {
        RunState state =
            replayRun(db_, run.fixture, static_cast<std::uint64_t>(run.start), std::nullopt,
                      StreamEnd::lost, "the station stopped during the run");
        if (run.decided) {
            state.decided = false;  // its stored verdict stands
        }
        updateRun(run.id, state);
    }
    commit();
}

}  // namespace bw_station
