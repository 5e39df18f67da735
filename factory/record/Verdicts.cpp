// A depth-first search over the possible verdict places, earliest first; dead ends are
// remembered so that no place is tried twice, and a budget bounds the work on hostile logs.
#include "record/Verdicts.hpp"

#include <string.h>

#include <set>
#include <tuple>

#include "record/Suites.hpp"

namespace bw_record {

namespace {

const std::string kSeparator(80, '=');
// The separator line that ends a test's verdict, and the two empty lines after it.
const std::string kCore = kSeparator + "\n\n\n";
const std::string kPassedCore = "\nPASS\n" + kSeparator + "\n";
const std::string kFailedCore = "\nFAIL\n" + kSeparator + "\n";
const std::string kPassedLines = kPassedCore + "\n\n";
const std::string kFailedLines = kFailedCore + "\n\n";
const std::string kFactoryStart = "Running factory tool. \n\n";
// Enough for every real log many times over; a log that needs more is not settled.
constexpr unsigned long kBudget = 2000000;

class Placer {
  public:
    // Each next banner is looked up once: the search asks for them at every candidate.
    Placer(const std::string& log, const std::vector<std::string>& suite)
        : log_(log), suite_(suite) {
        for (std::size_t test = 1; test < suite.size(); ++test) {
            nextBanners_.push_back(&bannerLine(suite[test]));
        }
    }

    bool place(std::size_t test, std::size_t from, unsigned failures) {
        if (deadEnds_.count({test, from, failures}) != 0) {
            return false;
        }
        const bool last = test + 1 == suite_.size();
        for (std::size_t sep = findCore(from); sep != std::string::npos; sep = findCore(sep + 1)) {
            if (++spent_ > kBudget) {
                return false;
            }
            if (sep < from + 6) {
                continue;
            }
            const std::size_t at = sep - 6;
            const bool passed = log_.compare(at, 6, "\nPASS\n") == 0;
            if (!passed && log_.compare(at, 6, "\nFAIL\n") != 0) {
                continue;
            }
            const unsigned now = failures + (passed ? 0U : 1U);
            const std::size_t after = sep + kCore.size();
            if (!follows(after, test, now)) {
                continue;
            }
            found_.push_back({at, passed});
            if (last || place(test + 1, after + nextBanner(test).size(), now)) {
                return true;
            }
            found_.pop_back();
        }
        deadEnds_.insert({test, from, failures});
        return false;
    }

    std::vector<VerdictAt> found_;

  private:
    // As log_.find(kCore, from), in time linear in the log: find compares afresh from every
    // '=' of every separator and banner.
    std::size_t findCore(std::size_t from) const {
        if (from > log_.size()) {
            return std::string::npos;
        }
        const void* at =
            ::memmem(log_.data() + from, log_.size() - from, kCore.data(), kCore.size());
        return at == nullptr ? std::string::npos
                             : static_cast<std::size_t>(static_cast<const char*>(at) - log_.data());
    }
    const std::string& nextBanner(std::size_t test) const { return *nextBanners_[test]; }
    // What must come after the verdict of `test`: the next banner, or the summary and, after
    // a pass, the factory step's first line (unless the log ends before it).
    bool follows(std::size_t after, std::size_t test, unsigned failures) const {
        if (test + 1 < suite_.size()) {
            const std::string& banner = nextBanner(test);
            return log_.compare(after, banner.size(), banner) == 0;
        }
        const std::string summary = summaryLine(failures);
        const std::string follow = summary + (failures == 0 ? kFactoryStart : "");
        const std::size_t left = log_.size() - after;
        return log_.compare(after, follow.size(), follow) == 0 ||
               (left >= summary.size() && left < follow.size() &&
                follow.compare(0, left, log_, after, left) == 0);
    }

    const std::string& log_;
    const std::vector<std::string>& suite_;
    std::vector<const std::string*> nextBanners_;
    std::set<std::tuple<std::size_t, std::size_t, unsigned>> deadEnds_;
    unsigned long spent_ = 0;
};

}  // namespace

const std::string& verdictCore(bool passed) {
    return passed ? kPassedCore : kFailedCore;
}

const std::string& verdictLines(bool passed) {
    return passed ? kPassedLines : kFailedLines;
}

std::string summaryLine(unsigned failures) {
    if (failures == 0) {
        return "All tests passed.\n";
    }
    return std::to_string(failures) + " test" + (failures == 1 ? "" : "s") + " failed.\n";
}

std::vector<VerdictAt> placeVerdicts(const std::string& log, std::size_t from,
                                     const std::vector<std::string>& suite) {
    Placer placer(log, suite);
    if (suite.empty() || !placer.place(0, from, 0)) {
        return {};
    }
    return placer.found_;
}

}  // namespace bw_record
