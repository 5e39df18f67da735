// What one run's standard output says about the run, as the factory record keeps it.
#pragma once

#include <string>
#include <vector>

namespace bw_record {

enum class Verdict { passed, failed, incomplete };
enum class Road { unknown, unsupported, normalBoot, firstBoot };
// Of one hardware test or one step around the tests.
enum class Outcome { notRun, passed, failed, incomplete };

// A value a test's narration states. `value` is its text in the record: a lower-case MAC,
// an ISO 8601 UTC time, a decimal or 0x-hex number, or any text.
struct Measurement {
    enum class Type { mac, time, integer, hex32, text };
    enum class Check { none, passed, failed };
    std::string name;
    Type type = Type::text;
    std::string value;
    // What the value must meet ("0..10"); empty when nothing is defined.
    std::string limits;
    Check check = Check::none;
};

struct Section {
    std::string name;
    Outcome outcome = Outcome::notRun;
    // For a test its narration between banner and verdict; for a step all it printed.
    std::string text;
    // Of a test: in narration order, only those its narration shows.
    std::vector<Measurement> measurements;
};

struct RunRecord {
    // The hub's identity: its Ethernet MAC as the network test printed it, lower-case; empty
    // when the log shows no well-formed one.
    std::string unit;
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
const char* typeText(Measurement::Type type);
const char* checkText(Measurement::Check check);

}  // namespace bw_record
