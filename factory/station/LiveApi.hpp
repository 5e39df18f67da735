// The station's answers to its readers: the live fixtures from the loop's board, the rest
// from the database, each call with a read-only connection of its own.
#pragma once

#include <string>

#include "station/Api.hpp"
#include "station/Live.hpp"
#include "station/Reports.hpp"
#include "station/Time.hpp"

namespace bw_station {

class LiveApi : public Api {
  public:
    LiveApi(std::string database, const LiveBoard& board)
        : database_(std::move(database)), board_(board) {}

    std::string fixturesJson() override { return board_.json(wallClock()); }
    std::uint64_t waitForChange(std::uint64_t seen, int timeoutMs) override {
        return board_.waitForChange(seen, timeoutMs);
    }
    // A connection per call: SQLite's readers never block the writer in WAL mode.
    std::string runsJson(const RunQuery& q) override { return Reports(database_).runsJson(q); }
    std::optional<std::string> runJson(std::int64_t id) override {
        return Reports(database_).runJson(id);
    }
    std::optional<std::string> runLog(std::int64_t id) override {
        return Reports(database_).runLog(id);
    }
    std::optional<std::string> runJunit(std::int64_t id) override {
        return Reports(database_).runJunit(id);
    }
    std::optional<std::string> runRecordJson(std::int64_t id) override {
        return Reports(database_).runRecordJson(id);
    }
    std::string statsJson(const StatsQuery& q) override { return Reports(database_).statsJson(q); }

  private:
    std::string database_;
    const LiveBoard& board_;
};

}  // namespace bw_station
