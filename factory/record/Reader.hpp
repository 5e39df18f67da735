// The reader of one run's log, shared by the parts that read the run's stages; see
// LogReader.cpp for how it finds its way through the others' output.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "record/Record.hpp"

namespace bw_record::reading {

inline const std::string kOk = ": OK";
inline const std::string kAbsent = ": Does not exist";
inline const std::string kStepFailed = "\n FAIL\n";
inline const std::string kPreparing = "Preparing normal boot. \n \n";
inline const std::string kPostHook = "/usr/local/share/bw-selftest/post-hook";

enum Step : std::size_t { preHook, serviceStop, factoryTool, postHook, preparation, stepCount };

inline std::string running(const std::string& command) {
    return "Running " + command + "\n";
}

inline bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

inline const std::array<const char*, stepCount> kStepNames = {
    "pre-hook", "service stop", "factory tool", "post-hook", "normal-boot preparation"};

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
    // `checkLine`: "Checking " and the hook's path, made once.
    bool hook(Step step, const std::string& path, const std::string& checkLine,
              const std::string& next);
    bool stopServices(const std::string& firstBanner);
    bool runTests(const std::vector<std::string>& suite);
    bool runFactoryTool();
    bool prepareNormalBoot();
    bool finalSync();

    // `wherePrefix` and `whereName` must outlive the reading: literals and suite names.
    void open(Section& section, std::string_view wherePrefix, std::string_view whereName) {
        current_ = &section;
        wherePrefix_ = wherePrefix;
        whereName_ = whereName;
        start_ = pos_;
    }
    void openStep(Step step) { open(record_.steps[step], "the ", kStepNames[step]); }
    // What was being read, for the reason of a run that ends there; made only then.
    std::string where() const {
        std::string text(wherePrefix_);
        text += whereName_;
        return text;
    }
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
        return end(Outcome::incomplete, Verdict::incomplete, "the log ends during " + where());
    }
    bool lost(Match match) {
        if (match == Match::cut) {
            return cut();
        }
        return end(Outcome::incomplete, Verdict::incomplete,
                   "unexpected text during " + where() + " at byte " + std::to_string(pos_));
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
    std::size_t output(std::initializer_list<std::reference_wrapper<const std::string>> ends) {
        std::size_t best = std::string::npos;
        std::size_t which = ends.size();
        for (std::size_t i = 0; i < ends.size(); ++i) {
            const std::size_t at = log_.find(ends.begin()[i].get(), pos_);
            if (at < best) {
                best = at;
                which = i;
            }
        }
        pos_ = which < ends.size() ? best : log_.size();
        return which;
    }
    // As output({end}), without copying `end`.
    std::size_t output(const std::string& end) {
        const std::size_t at = log_.find(end, pos_);
        pos_ = at != std::string::npos ? at : log_.size();
        return at != std::string::npos ? 0 : 1;
    }
    // A command of a step that says "FAIL" itself when one of its commands fails.
    bool command(const std::string& line, const std::string& next, int retries = 0) {
        if (!fixed(running(line))) {
            return false;
        }
        const std::string retry =
            retries > 0 ? "Waiting 5s to retry...\n\n" + running(line) : std::string();
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
                return failed(where() + " failed");
            }
            pos_ += retry.size();
        }
    }
    // A command whose failure ends the run without a word: the log then ends after its
    // output (which a cut capture would look like too; either way the run did not pass).
    bool silentCommand(const std::string& line, const std::string& next) {
        return silentCommand(line, running(line), next);
    }
    // As above, with the command's "Running" line already made.
    bool silentCommand(const std::string& line, const std::string& runningLine,
                       const std::string& next) {
        if (!fixed(runningLine)) {
            return false;
        }
        if (output(next) == 0) {
            return true;
        }
        return failed("\"" + line + "\" did not succeed: nothing follows its output");
    }

    std::string log_;
    std::size_t pos_ = 0;
    RunRecord record_;
    Section* current_ = nullptr;
    std::string_view wherePrefix_ = "the model line";
    std::string_view whereName_;
    std::size_t start_ = 0;
    bool ttyUndone_ = false;
};

}  // namespace bw_record::reading
