// The run's output is fixed narration with the outside programs' own output between its
// lines. That output may hold anything, so each stretch of it ends only where the whole
// text that must follow it (with what comes after, such as the next banner or a summary
// that agrees with the verdicts) appears first.
#include "record/LogReader.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "record/Suites.hpp"
#include "record/Verdicts.hpp"

namespace bw_record {

namespace {

const std::string kModelPrefix = "corenode.model = \"";
const std::string kUnsupported = "Model not supported. Awaiting termination... ";
const std::string kMarker = "/var/lib/brambleway/.firstboot";
const std::string kPreHook = "/usr/local/share/bw-selftest/pre-hook";
const std::string kPostHook = "/usr/local/share/bw-selftest/post-hook";
const std::string kOk = ": OK";
const std::string kAbsent = ": Does not exist";
const std::string kStepFailed = "\n FAIL\n";
const std::string kPreparing = "Preparing normal boot. \n \n";
const std::string kFinalSync = "/bin/sync";
const std::string kPoweroff = "/sbin/poweroff";
constexpr int kRetries = 3;

const std::array<const char*, 6> kServices = {"mainbus",    "zwave-svc",   "zipgateway",
                                              "zigbee-svc", "pkg-upgrade", "relaylink"};
const std::array<const char*, 6> kRemovals = {
    "/var/lib/brambleway/.firstboot", "/etc/service/mainbus/down",
    "/etc/service/zipgateway/down",   "/etc/service/zwave-svc/down",
    "/etc/service/pkg-upgrade/down",  "/etc/service/relaylink/down"};

const std::string kHubFiles = "/var/lib/brambleway/hub/hub_id /var/lib/brambleway/hub/hub_id.sig";
const std::string kCertificate = "/var/lib/brambleway/cloud-link/awsiot.crt";
const std::string kKey = "/usr/local/share/brambleway/registration.key";

enum Step : std::size_t { preHook, serviceStop, factoryTool, postHook, preparation, stepCount };
const std::array<const char*, stepCount> kStepNames = {"pre-hook", "service stop", "factory tool",
                                                       "post-hook", "normal-boot preparation"};

std::string running(const std::string& command) {
    return "Running " + command + "\n";
}

std::string stopCommand(const std::string& service) {
    if (service == "zigbee-svc") {
        return "/bin/systemctl stop zigbee-svc";
    }
    return "/usr/bin/svc -d /etc/service/" + service;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool startedFailureLine(const std::string& rest) {
    if (rest == "\n") {
        return true;
    }
    for (std::size_t n = 2; n < kStepFailed.size(); ++n) {
        if (endsWith(rest, kStepFailed.substr(0, n))) {
            return true;
        }
    }
    return false;
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

class Reader {
  public:
    explicit Reader(std::string log) : log_(std::move(log)) {}

    RunRecord read() {
        if (findModelLine() && findRoad()) {
            (void)firstBoot();  // every way out has set the verdict
        }
        return std::move(record_);
    }

  private:
    enum class Match { ok, cut, foreign };

    bool findModelLine();
    bool findRoad();
    bool firstBoot();
    bool hook(Step step, const std::string& path, const std::string& next);
    bool stopServices(const std::string& firstBanner);
    bool runTests(const std::vector<std::string>& suite);
    bool runFactoryTool();
    bool prepareNormalBoot();
    bool finalSync();

    void open(Section& section, const std::string& where) {
        current_ = &section;
        where_ = where;
        start_ = pos_;
    }
    void openStep(Step step) { open(record_.steps[step], std::string("the ") + kStepNames[step]); }
    void close(Outcome outcome) {
        current_->outcome = outcome;
        current_->text = log_.substr(start_, pos_ - start_);
    }
    bool passed() {
        close(Outcome::passed);
        return true;
    }
    bool end(Outcome outcome, Verdict verdict, const std::string& reason) {
        if (current_ != nullptr) {
            close(outcome);
        }
        record_.verdict = verdict;
        record_.reason = reason;
        return false;
    }
    bool failed(const std::string& reason) { return end(Outcome::failed, Verdict::failed, reason); }
    bool cut() {
        pos_ = log_.size();
        return end(Outcome::incomplete, Verdict::incomplete, "the log ends during " + where_);
    }
    bool lost(Match match) {
        if (match == Match::cut) {
            return cut();
        }
        return end(Outcome::incomplete, Verdict::incomplete,
                   "unexpected text during " + where_ + " at byte " + std::to_string(pos_));
    }

    Match match(const std::string& text) const {
        if (log_.compare(pos_, text.size(), text) == 0) {
            return Match::ok;
        }
        const std::size_t left = log_.size() - pos_;
        return left < text.size() && text.compare(0, left, log_, pos_, left) == 0 ? Match::cut
                                                                                  : Match::foreign;
    }
    bool fixed(const std::string& text) {
        const Match m = match(text);
        if (m != Match::ok) {
            return lost(m);
        }
        pos_ += text.size();
        return true;
    }
    // A narrated line: `prefix`, a result suffix such as ": OK", a line feed.
    bool checked(const std::string& prefix, std::string& suffix) {
        const Match m = match(prefix);
        if (m != Match::ok) {
            return lost(m);
        }
        const std::size_t lineEnd = log_.find('\n', pos_ + prefix.size());
        if (lineEnd == std::string::npos) {
            return cut();
        }
        suffix = log_.substr(pos_ + prefix.size(), lineEnd - pos_ - prefix.size());
        pos_ = lineEnd + 1;
        return true;
    }
    // Output of others up to the earliest of `ends`: its index, or ends.size() when none
    // comes (the output runs to the end of the log).
    std::size_t output(const std::vector<std::string>& ends) {
        std::size_t best = std::string::npos;
        std::size_t which = ends.size();
        for (std::size_t i = 0; i < ends.size(); ++i) {
            const std::size_t at = log_.find(ends[i], pos_);
            if (at < best) {
                best = at;
                which = i;
            }
        }
        pos_ = which < ends.size() ? best : log_.size();
        return which;
    }
    // A command of a step that says "FAIL" itself when one of its commands fails.
    bool command(const std::string& line, const std::string& next, int retries = 0) {
        if (!fixed(running(line))) {
            return false;
        }
        const std::string retry = "Waiting 5s to retry...\n\n" + running(line);
        for (int run = 0;; ++run) {
            const std::size_t which = output({next, run < retries ? retry : kStepFailed});
            if (which == 0) {
                return true;
            }
            if (which != 1) {
                return cut();
            }
            if (run >= retries) {
                pos_ += kStepFailed.size();
                return failed(where_ + " failed");
            }
            pos_ += retry.size();
        }
    }
    // A command whose failure ends the run without a word: the log then ends after its
    // output (which a cut capture would look like too; either way the run did not pass).
    bool silentCommand(const std::string& line, const std::string& next) {
        if (!fixed(running(line))) {
            return false;
        }
        if (output({next}) == 0) {
            return true;
        }
        return failed("\"" + line + "\" did not succeed: nothing follows its output");
    }

    std::string log_;
    std::size_t pos_ = 0;
    RunRecord record_;
    Section* current_ = nullptr;
    std::string where_ = "the model line";
    std::size_t start_ = 0;
    bool ttyUndone_ = false;
};

bool Reader::findModelLine() {
    for (std::size_t line = 0; line < log_.size();) {
        const std::size_t lineEnd = log_.find('\n', line);
        if (log_.compare(line, kModelPrefix.size(), kModelPrefix) == 0) {
            if (lineEnd == std::string::npos) {
                return cut();
            }
            const std::string text = log_.substr(line, lineEnd - line);
            if (!ttyUndone_ && endsWith(text, "\"\r")) {
                log_ = withoutTtyLineEnds(log_);
                ttyUndone_ = true;  // once: a second CR was the program's own
                return findModelLine();
            }
            if (text.size() > kModelPrefix.size() && text.back() == '"') {
                record_.modelKnown = true;
                record_.model =
                    text.substr(kModelPrefix.size(), text.size() - kModelPrefix.size() - 1);
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
    where_ = "the first-boot marker check";
    const std::string markerLine = "Checking " + kMarker;
    for (;;) {
        const std::size_t lineEnd = log_.find('\n', pos_);
        if (lineEnd == std::string::npos) {
            return cut();
        }
        const std::string text = log_.substr(pos_, lineEnd - pos_);
        pos_ = lineEnd + 1;
        if (text == kUnsupported) {
            record_.road = Road::unsupported;
            return failed("model not supported");
        }
        if (text.compare(0, markerLine.size(), markerLine) == 0) {
            if (text.substr(markerLine.size()) == kOk) {
                record_.road = Road::firstBoot;
                return true;
            }
            record_.road = Road::normalBoot;
            return failed("normal boot: the first-boot marker is absent, no test ran");
        }
    }
}

bool Reader::firstBoot() {
    const std::vector<std::string> suite = suiteOf(record_.model);
    if (suite.empty()) {
        return failed("no test suite is known for this model");
    }
    record_.steps.resize(stepCount);
    for (std::size_t step = 0; step < stepCount; ++step) {
        record_.steps[step].name = kStepNames[step];
    }
    return hook(preHook, kPreHook, running(stopCommand(kServices[0]))) &&
           stopServices("\n\n" + bannerOf(suite.front()) + "\n") && runTests(suite) &&
           runFactoryTool() && hook(postHook, kPostHook, kPreparing) && prepareNormalBoot();
}

bool Reader::hook(Step step, const std::string& path, const std::string& next) {
    openStep(step);
    std::string suffix;
    if (!checked("Checking " + path, suffix)) {
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
        const std::string next =
            i + 1 < kServices.size() ? running(stopCommand(kServices[i + 1])) : firstBanner;
        if (!silentCommand(stopCommand(kServices[i]), next)) {
            return false;
        }
    }
    return passed();
}

bool Reader::runTests(const std::vector<std::string>& suite) {
    const std::vector<VerdictAt> placed =
        placeVerdicts(log_, pos_ + 3 + bannerOf(suite.front()).size(), suite);
    unsigned failures = 0;
    for (std::size_t i = 0; i < suite.size(); ++i) {
        Section& test = record_.tests.emplace_back();
        test.name = suite[i];
        open(test, "the test " + suite[i]);
        if (!fixed("\n\n" + bannerOf(suite[i]) + "\n")) {
            return false;
        }
        start_ = pos_;
        const bool last = i + 1 == suite.size();
        const std::string next = last ? "" : "\n\n" + bannerOf(suite[i + 1]) + "\n";
        std::size_t which = 0;
        if (placed.size() == suite.size()) {
            pos_ = placed[i].at;
            which = placed[i].passed ? 0 : 1;
        } else {  // no placing fits: read on to where the log stops making sense
            which = output({verdictLines(true) + (last ? summaryLine(failures) : next),
                            verdictLines(false) + (last ? summaryLine(failures + 1) : next)});
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

bool Reader::runFactoryTool() {
    openStep(factoryTool);
    const std::string chownRoot = "chown root:root " + kHubFiles;
    std::string suffix;
    if (!fixed("Running factory tool. \n\n") ||
        !command("touch " + kHubFiles, running("chown bw-selftest:bw-selftest " + kHubFiles)) ||
        !command("chown bw-selftest:bw-selftest " + kHubFiles, "Checking " + kCertificate) ||
        !checked("Checking " + kCertificate, suffix)) {
        return false;
    }
    if (suffix == kOk
            ? !fixed("Skipping factory tool...\n")
            : !command("bw-drop bw-selftest factory-tool", "Checking " + kKey, kRetries)) {
        return false;
    }
    if (!checked("Checking " + kKey, suffix)) {
        return false;
    }
    if (suffix == kOk) {
        if (!command("shred -zvun 3 " + kKey, running("rm -fv " + kKey)) ||
            !command("rm -fv " + kKey, running(chownRoot))) {
            return false;
        }
    } else if (!fixed("Skipping key file erase...\n")) {
        return false;
    }
    if (!command(chownRoot, running("sync")) || !command("sync", "Checking " + kPostHook)) {
        return false;
    }
    return passed();
}

bool Reader::prepareNormalBoot() {
    openStep(preparation);
    if (!fixed(kPreparing)) {
        return false;
    }
    std::string suffix;
    for (const char* path : kRemovals) {
        if (!checked(std::string("Removing ") + path, suffix)) {
            return false;
        }
        if (suffix != kOk && suffix != kAbsent) {
            return fixed(kStepFailed) && failed(where_ + " failed");
        }
    }
    if (!command("/bin/systemctl enable zigbee-svc", "Checking /var/lib/brambleway/.keepssh") ||
        !checked("Checking /var/lib/brambleway/.keepssh", suffix)) {
        return false;
    }
    if (suffix == kOk ? !fixed("Keeping SSH as it is.\n")
                      : !command("/usr/sbin/update-rc.d ssh disable", running(kFinalSync))) {
        return false;
    }
    return finalSync();
}

// The last command of a passed run; what follows it is its output (and the poweroff's),
// unless the failure line comes.
bool Reader::finalSync() {
    if (!fixed(running(kFinalSync))) {
        return false;
    }
    const bool poweroff = powersOff(record_.model);
    const std::size_t syncOutput = pos_;
    const std::size_t which =
        output(poweroff ? std::vector<std::string>{kStepFailed, running(kPoweroff)}
                        : std::vector<std::string>{kStepFailed});
    if (which == 0) {
        pos_ += kStepFailed.size();
        return failed(where_ + " failed");
    }
    if (poweroff && which != 1) {
        return cut();
    }
    const std::string rest = log_.substr(poweroff ? pos_ : syncOutput);
    // The failure line begun and cut, or a report after the end: never a pass.
    if (!poweroff && startedFailureLine(rest)) {
        return cut();
    }
    if (rest.find(verdictCore(true)) != std::string::npos ||
        rest.find(verdictCore(false)) != std::string::npos) {
        return failed("a test verdict follows the end of the run");
    }
    close(Outcome::passed);  // the poweroff and what it prints are not the preparation's
    record_.poweroffStarted = poweroff;
    record_.verdict = Verdict::passed;
    record_.reason = "every test passed and every step completed";
    return true;
}

}  // namespace

RunRecord readLog(std::string log) {
    return Reader(std::move(log)).read();
}

}  // namespace bw_record
