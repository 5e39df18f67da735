// Where each test's verdict stands in a log whose tests may print anything, verdict-like
// text included.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bw_record {

// "\nPASS\n" or "\nFAIL\n", the separator line and the two empty lines after it.
const std::string& verdictLines(bool passed);
// The verdict and the separator line alone.
const std::string& verdictCore(bool passed);
// The summary line the runner prints after `failures` failed tests, line feed included.
std::string summaryLine(unsigned failures);

struct VerdictAt {
    std::size_t at;  // where the verdict's lines begin
    bool passed;
};

// From `from`, the start of the first test's narration: the earliest placing of the
// verdicts of `suite` after which each next banner and finally the summary, agreeing with
// the verdicts, follow. Empty when there is none (a cut or stray log) or when the log is
// too ambiguous to settle in reasonable time.
std::vector<VerdictAt> placeVerdicts(const std::string& log, std::size_t from,
                                     const std::vector<std::string>& suite);

}  // namespace bw_record
