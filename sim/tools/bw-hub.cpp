// Runs bw-selftest, unmodified, in a private sandbox that stands in for a hub, shows what it
// prints, and ends it with SIGTERM once it waits for termination.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "sandbox/ProgramRun.hpp"
#include "sandbox/Sandbox.hpp"

namespace {

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
    const std::string error = bw_sim::enterSandbox();
    if (!error.empty()) {
        std::cerr << "bw-hub: cannot make the sandbox: " << error << "\n";
        return 1;
    }
    try {
        bw_sim::sandbox::freshDirectory("/usr/local/share/brambleway");
        if (withModelFile) {
            bw_sim::sandbox::writeFile("/usr/local/share/brambleway/corenode.model", model + "\n");
        }
        std::cout << "bw-hub: model file: " << (withModelFile ? "\"" + model + "\"" : "none")
                  << "\n--- bw-selftest standard output ---" << std::endl;
        bw_sim::ProgramRun run({program});
        const bool paused = run.waitUntilPaused(std::chrono::minutes(10));
        std::cout << run.out();
        std::cout << "--- bw-selftest standard error ---\n" << run.err();
        if (!paused) {
            std::cout << "--- bw-selftest ended or hung before waiting for termination ---"
                      << std::endl;
            return 1;
        }
        const bool ended = run.terminate();
        std::cout << "--- bw-selftest waited for termination; SIGTERM "
                  << (ended ? "ended it" : "did NOT end it") << " ---" << std::endl;
        return ended ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "bw-hub: " << e.what() << "\n";
        return 1;
    }
}
