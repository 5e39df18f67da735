// The station's database, write side: every console byte at its stream offset, and the runs
// as byte ranges of their fixture's stream with what the reader made of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "station/Splitter.hpp"
#include "station/Sqlite.hpp"

namespace bw_station {

// Opens for writing, creating the tables and indexes of a new database.
Connection openDatabase(const std::string& path);

class Store {
  public:
    // Opens (or creates) the database and ends the runs a killed station left open.
    explicit Store(const std::string& path);

    std::int64_t fixture(const std::string& name, const std::string& device);
    // Bytes of the fixture's stream stored so far, where the next session goes on.
    std::uint64_t streamEnd(std::int64_t fixture);

    void begin() { db_.execute("BEGIN IMMEDIATE"); }
    void commit() { db_.execute("COMMIT"); }

    void appendBytes(std::int64_t fixture, std::uint64_t offset, double time,
                     std::string_view bytes);
    std::int64_t insertRun(std::int64_t fixture, const RunState& run);
    // What is known of a run so far; the whole record once decided.
    void updateRun(std::int64_t id, const RunState& run);

  private:
    void recover();

    Connection db_;
    Statement findFixture_;
    Statement addFixture_;
    Statement setDevice_;
    Statement streamEnd_;
    Statement addChunk_;
    Statement addRun_;
    Statement setRunProgress_;
    Statement setRunDecided_;
    Statement setRunEnd_;
    Statement clearTests_;
    Statement addTest_;
    Statement clearFailures_;
    Statement addFailure_;
};

// A run read again from its stored bytes and their arrival times, ended as `how` says at
// `end` or the end of the stored stream.
RunState replayRun(const Connection& db, std::int64_t fixture, std::uint64_t start,
                   std::optional<std::uint64_t> end, StreamEnd how, const std::string& why);

// The MAC a run's record names, lower-case, or empty.
std::string unitOf(const bw_record::RunRecord& record);

}  // namespace bw_station
