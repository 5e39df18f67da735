// The station's database, read side: the answers of `runs`, `show` and `stats`, and of the
// live page, from one read-only connection.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "station/Api.hpp"
#include "station/Splitter.hpp"
#include "station/Sqlite.hpp"

namespace bw_station {

struct Failure {
    std::string kind;  // test or step
    std::string name;
    std::int64_t count = 0;
};

struct Stats {
    std::int64_t units = 0;        // MACs seen in any run
    std::int64_t testedUnits = 0;  // MACs with at least one attempt
    std::int64_t attempts = 0;
    std::int64_t firstPassed = 0;  // units whose first attempt passed
    std::int64_t finalPassed = 0;  // units whose last attempt passed
    std::int64_t incomplete = 0;
    std::int64_t unidentified = 0;
    std::int64_t normalBoots = 0;
    std::int64_t unsupported = 0;
    std::vector<Failure> failures;  // most frequent first
};

// Binds a filter's time, or leaves the parameter NULL (no filter) for an empty one.
void bindTime(Statement& s, int index, const std::string& text);

class Reports {
  public:
    explicit Reports(const std::string& path);

    std::string runsJson(const RunQuery& query);
    std::string runsText(const RunQuery& query);
    std::optional<std::string> runJson(std::int64_t id);
    // For a person: the run's facts, each test's outcome and duration, the steps that ran.
    std::optional<std::string> runText(std::int64_t id);
    std::optional<std::string> runLog(std::int64_t id);
    std::optional<std::string> runJunit(std::int64_t id);
    std::optional<std::string> runRecordJson(std::int64_t id);

    Stats stats(const StatsQuery& query);
    std::string statsJson(const StatsQuery& query);
    std::string statsCsv(const StatsQuery& query);
    std::string statsText(const StatsQuery& query);

  private:
    struct Row;
    static Row rowOf(const Statement& s);
    std::vector<Row> runs(const RunQuery& query);
    std::optional<Row> run(std::int64_t id);
    RunState replay(const Row& row);
    std::vector<TestTiming> tests(const Row& row, const RunState& replayed);

    Connection db_;
};

}  // namespace bw_station
