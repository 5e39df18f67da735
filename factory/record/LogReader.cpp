// The run's output is fixed narration with the outside programs' own output between its
// lines. That output may hold anything, so each stretch of it ends only where the whole
// text that must follow it (with what comes after, such as the next banner or a summary
// that agrees with the verdicts) appears first.
#include "record/LogReader.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "record/Measurements.hpp"
#include "record/Reader.hpp"
#include "record/Suites.hpp"
#include "record/Verdicts.hpp"

namespace bw_record {

namespace reading {

namespace {

const std::string kModelPrefix = "corenode.model = \"";
const std::string kUnsupported = "Model not supported. Awaiting termination... ";
const std::string kMarker = "/var/lib/brambleway/.firstboot";
const std::string kPreHook = "/usr/local/share/bw-selftest/pre-hook";
const std::string kMarkerLine = "Checking " + kMarker;
const std::string kPreHookCheck = "Checking " + kPreHook;
const std::string kPostHookCheck = "Checking " + kPostHook;

const std::array<const char*, 6> kServices = {"mainbus",    "zwave-svc",   "zipgateway",
                                              "zigbee-svc", "pkg-upgrade", "relaylink"};

std::string stopCommand(const std::string& service) {
    if (service == "zigbee-svc") {
        return "/bin/systemctl stop zigbee-svc";
    }
    return "/usr/bin/svc -d /etc/service/" + service;
}

// Each service's stop command and its "Running" line, built once rather than in every read.
struct StopLines {
    std::array<std::string, kServices.size()> command;
    std::array<std::string, kServices.size()> running;
};

const StopLines& stopLines() {
    static const StopLines lines = [] {
        StopLines built;
        for (std::size_t i = 0; i < kServices.size(); ++i) {
            built.command[i] = stopCommand(kServices[i]);
            built.running[i] = running(built.command[i]);
        }
        return built;
    }();
    return lines;
}

// A tty turns every line feed the program writes into CR LF; undo it.
std::string withoutTtyLineEnds(const std::string& log) {
    std::string out;
    out.reserve(log.size());
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (!(log[i] == '\r' && i + 1 < log.size() && log[i + 1] == '\n')) {
            out += log[i];
        }
    }
    return out;
}

}  // namespace

bool Reader::findModelLine() {
    for (std::size_t line = 0; line < log_.size();) {
        const std::size_t lineEnd = log_.find('\n', line);
        if (log_.compare(line, kModelPrefix.size(), kModelPrefix) == 0) {
            if (lineEnd == std::string::npos) {
                return cut();
            }
            const std::string_view text = std::string_view(log_).substr(line, lineEnd - line);
            if (!ttyUndone_ && text.size() >= 2 && text.substr(text.size() - 2) == "\"\r") {
                log_ = withoutTtyLineEnds(log_);
                ttyUndone_ = true;  // once: a second CR was the program's own
                return findModelLine();
            }
            if (text.size() > kModelPrefix.size() && text.back() == '"') {
                record_.modelKnown = true;
                record_.model = std::string(
                    text.substr(kModelPrefix.size(), text.size() - kModelPrefix.size() - 1));
                pos_ = lineEnd + 1;
                // A capture may run on into the next boot (after a power cut, say): that is
                // another run, and no part of this one.
                log_.resize(std::min(log_.size(), log_.find(kModelPrefix, pos_)));
                return true;
            }
        }
        if (lineEnd == std::string::npos) {
            break;
        }
        line = lineEnd + 1;
    }
    return end(Outcome::incomplete, Verdict::incomplete, "the log holds no model line");
}

// Lines between the model line and the road's line can only be the program's own error
// lines (LED set-up) where the capture mixes standard error in.
bool Reader::findRoad() {
    wherePrefix_ = "the first-boot marker check";
    for (;;) {
        const std::size_t lineEnd = log_.find('\n', pos_);
        if (lineEnd == std::string::npos) {
            return cut();
        }
        const std::size_t line = pos_;
        const std::size_t length = lineEnd - line;
        pos_ = lineEnd + 1;
        if (log_.compare(line, length, kUnsupported) == 0) {
            record_.road = Road::unsupported;
            return failed("model not supported");
        }
        if (length >= kMarkerLine.size() &&
            log_.compare(line, kMarkerLine.size(), kMarkerLine) == 0) {
            if (log_.compare(line + kMarkerLine.size(), length - kMarkerLine.size(), kOk) == 0) {
                record_.road = Road::firstBoot;
                return true;
            }
            record_.road = Road::normalBoot;
            return failed("normal boot: the first-boot marker is absent, no test ran");
        }
    }
}

bool Reader::firstBoot() {
    const std::vector<std::string>& suite = suiteOf(record_.model);
    if (suite.empty()) {
        return failed("no test suite is known for this model");
    }
    record_.steps.resize(stepCount);
    for (std::size_t step = 0; step < stepCount; ++step) {
        record_.steps[step].name = kStepNames[step];
    }
    return hook(preHook, kPreHook, kPreHookCheck, stopLines().running[0]) &&
           stopServices(bannerLine(suite.front())) && runTests(suite) && runFactoryTool() &&
           hook(postHook, kPostHook, kPostHookCheck, kPreparing) && prepareNormalBoot();
}

bool Reader::hook(Step step, const std::string& path, const std::string& checkLine,
                  const std::string& next) {
    openStep(step);
    std::string suffix;
    if (!checked(checkLine, suffix)) {
        return false;
    }
    // Any other answer than "absent" makes the program run it (and the shell then fails).
    if (suffix != kAbsent && !silentCommand(path, next)) {
        return false;
    }
    return passed();
}

bool Reader::stopServices(const std::string& firstBanner) {
    openStep(serviceStop);
    for (std::size_t i = 0; i < kServices.size(); ++i) {
        const std::string& next =
            i + 1 < kServices.size() ? stopLines().running[i + 1] : firstBanner;
        if (!silentCommand(stopLines().command[i], stopLines().running[i], next)) {
            return false;
        }
    }
    return passed();
}

bool Reader::runTests(const std::vector<std::string>& suite) {
    const std::vector<VerdictAt> placed =
        placeVerdicts(log_, pos_ + bannerLine(suite.front()).size(), suite);
    unsigned failures = 0;
    std::string passedEnd;  // the fallback's two ends, their room kept from test to test
    std::string failedEnd;
    for (std::size_t i = 0; i < suite.size(); ++i) {
        Section& test = record_.tests.emplace_back();
        test.name = suite[i];
        open(test, "the test ", suite[i]);
        if (!fixed(bannerLine(suite[i]))) {
            return false;
        }
        start_ = pos_;
        const bool last = i + 1 == suite.size();
        std::size_t which = 0;
        if (placed.size() == suite.size()) {
            pos_ = placed[i].at;
            which = placed[i].passed ? 0 : 1;
        } else {  // no placing fits: read on to where the log stops making sense
            passedEnd = verdictLines(true);
            failedEnd = verdictLines(false);
            if (last) {
                passedEnd += summaryLine(failures);
                failedEnd += summaryLine(failures + 1);
            } else {
                passedEnd += bannerLine(suite[i + 1]);
                failedEnd += bannerLine(suite[i + 1]);
            }
            which = output({passedEnd, failedEnd});
        }
        if (which > 1) {
            return cut();
        }
        close(which == 0 ? Outcome::passed : Outcome::failed);
        failures += static_cast<unsigned>(which);
        pos_ += verdictLines(which == 0).size();
    }
    current_ = nullptr;
    const std::string summary = summaryLine(failures);
    pos_ += summary.size();
    record_.summaryKnown = true;
    record_.summary = summary.substr(0, summary.size() - 1);
    if (failures != 0) {
        return failed(record_.summary);
    }
    return true;
}

}  // namespace reading

RunRecord readLog(std::string log) {
    RunRecord record = reading::Reader(std::move(log)).read();
    measure(record);
    return record;
}

}  // namespace bw_record
