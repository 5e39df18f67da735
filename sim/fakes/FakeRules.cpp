// Writing and reading the rules file.
#include "fakes/FakeRules.hpp"

#include <cstdlib>

#include "fakes/Fields.hpp"

namespace bw_sim {

namespace {

constexpr std::size_t kRuleFields = 8;

std::string joinStatuses(const std::vector<int>& statuses) {
    std::string text;
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        text += (i > 0 ? "," : "") + std::to_string(statuses[i]);
    }
    return text;
}

std::vector<int> splitStatuses(const std::string& text) {
    std::vector<int> statuses;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            comma = text.size();
        }
        statuses.push_back(std::atoi(text.substr(start, comma - start).c_str()));
        start = comma + 1;
    }
    return statuses;
}

}  // namespace

void FakeRules::set(const std::string& program, const std::string& commandLine,
                    const Outcome& outcome) {
    for (FakeRule& rule : rules_) {
        if (rule.program == program && rule.commandLine == commandLine) {
            rule.outcome = outcome;
            return;
        }
    }
    rules_.push_back({program, commandLine, outcome});
}

const FakeRule* FakeRules::find(const std::string& program, const std::string& commandLine) const {
    const FakeRule* forProgram = nullptr;
    for (const FakeRule& rule : rules_) {
        if (rule.program != program) {
            continue;
        }
        if (rule.commandLine == commandLine) {
            return &rule;
        }
        if (rule.commandLine.empty()) {
            forProgram = &rule;
        }
    }
    return forProgram;
}

std::string FakeRules::serialize() const {
    std::string text;
    for (const FakeRule& rule : rules_) {
        const Outcome& o = rule.outcome;
        text += makeRecord({"rule", rule.program, rule.commandLine, joinStatuses(o.statuses_),
                            std::to_string(o.duration_.count()), o.effect_ ? "1" : "0", o.out_,
                            o.err_});
    }
    return text;
}

FakeRules FakeRules::parse(const std::string& text) {
    FakeRules rules;
    for (const std::vector<std::string>& fields : parseRecords(text)) {
        if (fields.size() != kRuleFields || fields[0] != "rule") {
            continue;
        }
        Outcome outcome(splitStatuses(fields[3]));
        outcome.duration_ = std::chrono::milliseconds(std::atol(fields[4].c_str()));
        outcome.effect_ = fields[5] == "1";
        outcome.out_ = fields[6];
        outcome.err_ = fields[7];
        rules.set(fields[1], fields[2], outcome);
    }
    return rules;
}

std::string programOf(const std::string& commandLine) {
    const std::string first = commandLine.substr(0, commandLine.find(' '));
    const std::size_t slash = first.find_last_of('/');
    return slash == std::string::npos ? first : first.substr(slash + 1);
}

}  // namespace bw_sim
