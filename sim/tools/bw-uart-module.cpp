// The EnOcean radio module of the simulated hub, on its own, for an emulated board: it
// answers on a pseudo-terminal whose slave an emulator wires to the board's UART. Prints
// the slave's path as its first line, answers every request with RET_OK until SIGTERM,
// SIGINT or SIGHUP, then lists the frames it received, one a line.
#include <signal.h>

#include <fstream>
#include <iostream>
#include <string>

#include "uart/Module.hpp"

int main(int argc, char** argv) {
    std::string logPath;
    if (argc == 3 && std::string(argv[1]) == "--log") {
        logPath = argv[2];
    } else if (argc != 1) {
        std::cerr << "usage: " << argv[0] << " [--log FILE]\n";
        return 2;
    }
    // Blocked before the module's thread starts, so only sigwait below takes them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    try {
        bw_sim::uart::Scenario scenario;
        scenario.paths.clear();
        bw_sim::uart::Module module(scenario);
        std::cout << module.slavePath() << std::endl;
        int signal = 0;
        sigwait(&stop, &signal);
        std::ofstream file;
        if (!logPath.empty()) {
            file.open(logPath);
        }
        std::ostream& log = logPath.empty() ? std::cout : file;
        for (const bw_sim::uart::esp3::Frame& frame : module.received()) {
            log << "received " << frame << "\n";
        }
        log.flush();
        return log ? 0 : 1;
    } catch (const std::exception& error) {
        std::cerr << "bw-uart-module: " << error.what() << "\n";
        return 1;
    }
}
