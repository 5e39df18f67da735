// The command line of bw-hub: which hub to simulate, which program to run in it, and how
// to watch it.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "hub/Scenario.hpp"

namespace bw_sim::tool {

struct ToolOptions {
    Scenario scenario;
    std::string program;
    // Longest time the program may take to reach its wait.
    std::chrono::milliseconds limit{std::chrono::minutes(10)};
    std::string transcript;  // directory; empty for none
    std::string console;     // link to the console's pseudo-terminal; empty for none
    // How long the program is left waiting before SIGTERM.
    std::chrono::milliseconds hold{0};
    bool noColor = false;
    bool help = false;
};

// Reads `args` (without the tool's own name) into `options`. Returns an empty string, or
// one line saying what is wrong and what to do. The program, unless named as the last
// argument, is `defaultProgram`; it must be an executable file.
std::string parseOptions(const std::vector<std::string>& args, const std::string& defaultProgram,
                         ToolOptions& options);

// The --help text.
std::string helpText(const std::string& defaultProgram);

}  // namespace bw_sim::tool
