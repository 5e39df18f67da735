// Runs bw-selftest, unmodified, in a simulated hub (by default a first boot of a hub on
// which everything works), shows what it prints, ends it with SIGTERM once it waits for
// termination, and tells what it did to the hub.
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <string>

#include "hub/Hub.hpp"
#include "hub/Summary.hpp"

namespace {

// A run that takes longer has hung: the longest passing run waits far less.
constexpr std::chrono::minutes kRunLimit{10};

void usage(const char* self) {
    std::cerr << "usage: " << self << " [--model ID | --no-model-file] PATH-TO-bw-selftest\n";
}

}  // namespace

int main(int argc, char** argv) {
    std::string model = "prism-1v1-eu";
    bool withModelFile = true;
    std::string program;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--model" && i + 1 < argc) {
            model = argv[++i];
        } else if (arg == "--no-model-file") {
            withModelFile = false;
        } else if (!arg.empty() && arg[0] != '-' && program.empty()) {
            program = arg;
        } else {
            usage(argv[0]);
            return 2;
        }
    }
    if (program.empty()) {
        usage(argv[0]);
        return 2;
    }
    const std::string unavailable = bw_sim::hubUnavailableReason();
    if (!unavailable.empty()) {
        std::cerr << "bw-hub: cannot simulate a hub here: " << unavailable << "\n";
        return 1;
    }
    const std::string error = bw_sim::enterSandbox();
    if (!error.empty()) {
        std::cerr << "bw-hub: cannot make the sandbox: " << error << "\n";
        return 1;
    }
    try {
        bw_sim::Scenario scenario;
        if (withModelFile) {
            scenario.model(model);
        } else {
            scenario.noModelFile();
        }
        bw_sim::Hub hub(scenario);
        std::cout << "bw-hub: model file: " << (withModelFile ? "\"" + model + "\"" : "none")
                  << "\n--- bw-selftest standard output ---" << std::endl;
        bw_sim::ProgramRun& run = hub.start(program);
        const bool paused = run.waitUntilPaused(kRunLimit);
        std::cout << run.out();
        std::cout << "--- bw-selftest standard error ---\n" << run.err();
        const bool ended = paused && run.terminate();
        std::cout << "--- the hub afterwards ---\n" << bw_sim::summarize(hub);
        if (!paused) {
            std::cout << "--- bw-selftest ended or hung before waiting for termination ---"
                      << std::endl;
            return 1;
        }
        std::cout << "--- bw-selftest waited for termination; SIGTERM "
                  << (ended ? "ended it" : "did NOT end it") << " ---" << std::endl;
        return ended ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "bw-hub: " << e.what() << "\n";
        return 1;
    }
}
