// The scripted outcomes of the fake programs, as the hub writes them and a fake reads them.
#pragma once

#include <string>
#include <vector>

#include "fakes/Outcome.hpp"

namespace bw_sim {

struct FakeRule {
    std::string program;      // the name the fake was run under, without its directory
    std::string commandLine;  // the exact command line; empty for any run of the program
    Outcome outcome;
};

class FakeRules {
  public:
    // Adds a rule, replacing one for the same program and command line.
    void set(const std::string& program, const std::string& commandLine, const Outcome& outcome);
    // The rule for one run: the one for its exact command line, else the one for its
    // program; null when neither exists (the fake then just succeeds).
    const FakeRule* find(const std::string& program, const std::string& commandLine) const;
    const std::vector<FakeRule>& rules() const { return rules_; }

    std::string serialize() const;
    static FakeRules parse(const std::string& text);

  private:
    std::vector<FakeRule> rules_;
};

// The name a command runs under: its first word, without the directory.
std::string programOf(const std::string& commandLine);

}  // namespace bw_sim
