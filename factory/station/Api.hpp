// What the station tells its readers (the command line's --json and the live page): every
// answer is a JSON document, made from the live fixtures or the database.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace bw_station {

// Empty fields do not filter. Times are ISO 8601 (2026-12-08T09:30:00Z).
struct RunQuery {
    std::string unit;     // MAC, lower-case
    std::string fixture;
    std::string model;
    std::string verdict;  // passed, failed, incomplete, normal-boot, unsupported
    std::string since;
    std::string until;
    unsigned limit = 200;
};

struct StatsQuery {
    std::string since;
    std::string until;
    std::string model;
    std::string fixture;
};

// Safe to call from any thread, while the consoles are being read; no call waits for a
// console, and none blocks one.
class Api {
public:
    virtual ~Api() = default;

    // {"fixtures":[{"fixture","device","state","model","unit","test","testIndex",
    //   "testCount","elapsedSeconds","verdict","run","tests":[{"name","outcome"}]}],
    //  "version":N}
    // state: offline, waiting, booting, testing, passed, failed, incomplete, normal-boot,
    // unsupported. Absent facts are null. The last verdict stays until the next model line.
    virtual std::string fixturesJson() = 0;
    // Returns the live state's version once it differs from `seen`, or after `timeoutMs`.
    virtual std::uint64_t waitForChange(std::uint64_t seen, int timeoutMs) = 0;

    // {"runs":[{"id","fixture","unit","model","road","verdict","reason","start","end"}]},
    // newest first.
    virtual std::string runsJson(const RunQuery& query) = 0;
    // One run: the fields above plus "record" (the record tool's JSON record) and "tests"
    // with each test's start and duration. Empty for an unknown run.
    virtual std::optional<std::string> runJson(std::int64_t id) = 0;
    // Its raw console bytes, kernel lines included.
    virtual std::optional<std::string> runLog(std::int64_t id) = 0;
    virtual std::optional<std::string> runJunit(std::int64_t id) = 0;
    virtual std::optional<std::string> runRecordJson(std::int64_t id) = 0;

    // {"units","attempts","firstPassYield","finalYield","retests","incomplete",
    //  "unidentified","normalBoots","unsupported",
    //  "failures":[{"kind":"test"|"step","name","count"}]} (most frequent first)
    virtual std::string statsJson(const StatsQuery& query) = 0;
};

}  // namespace bw_station
