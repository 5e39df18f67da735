// What one run's standard output says about the run, as the factory record keeps it.
#pragma once

#include <string>
#include <vector>

namespace bw_record {

enum class Verdict { passed, failed, incomplete };
enum class Road { unknown, unsupported, normalBoot, firstBoot };
// Of one hardware test or one step around the tests.
enum class Outcome { notRun, passed, failed, incomplete };

struct Section {
    std::string name;
    Outcome outcome = Outcome::notRun;
    // For a test its narration between banner and verdict; for a step all it printed.
    std::string text;
};

struct RunRecord {
    bool modelKnown = false;
    std::string model;
    Road road = Road::unknown;
    // In report order; only the tests whose banner the log shows.
    std::vector<Section> tests;
    bool summaryKnown = false;
    std::string summary;
    // The steps of a first boot, in run order, each present even when not reached.
    std::vector<Section> steps;
    bool poweroffStarted = false;
    Verdict verdict = Verdict::incomplete;
    std::string reason;
};

const char* verdictText(Verdict verdict);
const char* roadText(Road road);
const char* outcomeText(Outcome outcome);

}  // namespace bw_record
