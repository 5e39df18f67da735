// The words the records use for the run's facts.
#include "record/Record.hpp"

namespace bw_record {

const char* verdictText(Verdict verdict) {
    switch (verdict) {
        case Verdict::passed:
            return "passed";
        case Verdict::failed:
            return "failed";
        case Verdict::incomplete:
            break;
    }
    return "incomplete";
}

const char* roadText(Road road) {
    switch (road) {
        case Road::unsupported:
            return "unsupported";
        case Road::normalBoot:
            return "normal boot";
        case Road::firstBoot:
            return "first boot";
        case Road::unknown:
            break;
    }
    return "unknown";
}

const char* outcomeText(Outcome outcome) {
    switch (outcome) {
        case Outcome::passed:
            return "passed";
        case Outcome::failed:
            return "failed";
        case Outcome::incomplete:
            return "incomplete";
        case Outcome::notRun:
            break;
    }
    return "not run";
}

const char* typeText(Measurement::Type type) {
    switch (type) {
        case Measurement::Type::mac:
            return "mac";
        case Measurement::Type::time:
            return "time";
        case Measurement::Type::integer:
            return "integer";
        case Measurement::Type::hex32:
            return "hex32";
        case Measurement::Type::text:
            break;
    }
    return "text";
}

const char* checkText(Measurement::Check check) {
    switch (check) {
        case Measurement::Check::passed:
            return "passed";
        case Measurement::Check::failed:
            return "failed";
        case Measurement::Check::none:
            break;
    }
    return "none";
}

}  // namespace bw_record
