// bw-hub's verdict: the record tool's reading of the run, so that the hub and the factory
// line never disagree about what a run means.
#include "tools/Verdict.hpp"

#include "record/LogReader.hpp"

namespace bw_sim::tool {

HubVerdict verdictOf(const std::string& standardOutput) {
    const bw_record::RunRecord record = bw_record::readLog(standardOutput);
    HubVerdict verdict;
    std::string word = bw_record::verdictText(record.verdict);
    verdict.status = record.verdict == bw_record::Verdict::passed   ? kVerdictPassed
                     : record.verdict == bw_record::Verdict::failed ? kVerdictFailed
                                                                    : kVerdictIncomplete;
    // The record fails a hub that ran no test; a script wants to tell these apart.
    if (record.verdict == bw_record::Verdict::failed &&
        (record.road == bw_record::Road::normalBoot ||
         record.road == bw_record::Road::unsupported)) {
        word = bw_record::roadText(record.road);
        verdict.status =
            record.road == bw_record::Road::normalBoot ? kVerdictNormalBoot : kVerdictUnsupported;
    }
    std::string reason = record.reason;
    if (reason.rfind(word + ": ", 0) == 0) {
        reason.erase(0, word.size() + 2);
    }
    if (!reason.empty() && reason.back() == '.') {
        reason.pop_back();
    }
    verdict.line = "verdict: " + word + (reason.empty() ? "" : " (" + reason + ")");
    return verdict;
}

}  // namespace bw_sim::tool
