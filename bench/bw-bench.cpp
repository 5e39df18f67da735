// Measures what bw-selftest costs a hub, side by side with floor programs, in the simulated
// hub on this machine. Run it through bench/run, which builds everything and documents it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "hub/Hub.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How the candidate waits for ever once its work is done.
enum class Wait { pause, sleepProgram };

struct Candidate {
    std::string label;
    std::string path;
    Wait wait;
};

struct Sample {
    bool ok = false;
    double micros = 0;     // from the exec to the wait
    long dirtyKb = -1;     // Private_Dirty while waiting
    double cpuMicros = 0;  // the process's own time on a CPU (its children not counted)
    std::string out;
};

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool waiting(pid_t pid, Wait wait) {
    std::istringstream call(readText("/proc/" + std::to_string(pid) + "/syscall"));
    long number = -1;
    if (!(call >> number)) {
        return false;  // "running"
    }
    if (wait == Wait::pause) {
        return number == SYS_pause;
    }
    // sleep infinity pauses too
    return (number == SYS_pause || number == SYS_clock_nanosleep || number == SYS_nanosleep) &&
           readText("/proc/" + std::to_string(pid) + "/comm") == "sleep\n";
}

long privateDirtyKb(pid_t pid) {
    std::istringstream rollup(readText("/proc/" + std::to_string(pid) + "/smaps_rollup"));
    std::string key;
    long kb = -1;
    while (rollup >> key) {
        if (key == "Private_Dirty:" && rollup >> kb) {
            return kb;
        }
    }
    return -1;
}

double cpuMicros(pid_t pid) {
    std::istringstream stat(readText("/proc/" + std::to_string(pid) + "/schedstat"));
    double ns = 0;
    stat >> ns;
    return ns / 1000.0;
}

constexpr useconds_t kLookEveryMicros = 50;

// Shared with the child, which notes the moment just before its exec: the figures are
// exec to wait, without the fork.
Clock::rep* execMoment() {
    static Clock::rep* moment = static_cast<Clock::rep*>(::mmap(
        nullptr, sizeof(Clock::rep), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    return moment;
}

// Runs the candidate with no arguments and no environment, standard output into a memory
// file, until it waits for ever; then reads its figures and kills it.
Sample measure(const Candidate& candidate, milliseconds limit) {
    Sample sample;
    const int out = ::memfd_create("bench-out", MFD_CLOEXEC);
    const pid_t starter = ::getpid();
    Clock::rep* const moment = execMoment();  // mapped before the fork, so that it is shared
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != starter) {
            ::_exit(126);
        }
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(out, 1);
        ::dup2(null, 2);
        char* argv[] = {const_cast<char*>(candidate.path.c_str()), nullptr};
        char* noEnvironment[] = {nullptr};
        *moment = Clock::now().time_since_epoch().count();
        ::execve(argv[0], argv, noEnvironment);
        ::_exit(127);
    }
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (waiting(pid, candidate.wait)) {
            const auto now = Clock::now().time_since_epoch().count();
            sample.micros = static_cast<double>(now - *moment) / 1000.0;
            sample.ok = true;
            break;
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid || Clock::now() > deadline) {
            break;
        }
        // A short nap between looks: a watcher spinning on one of two cores would slow the
        // program and the simulated hub it talks to.
        ::usleep(kLookEveryMicros);
    }
    if (sample.ok) {
        sample.dirtyKb = privateDirtyKb(pid);
        sample.cpuMicros = cpuMicros(pid);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    char buffer[4096];
    ssize_t got;
    ::lseek(out, 0, SEEK_SET);
    while ((got = ::read(out, buffer, sizeof buffer)) > 0) {
        sample.out.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(out);
    return sample;
}

// After a reboot the LED lines are not exported; every normal boot starts from there.
void unexportLeds() {
    for (const char* gpio : {"11", "12", "13"}) {
        if (::access((std::string("/sys/class/gpio/gpio") + gpio).c_str(), F_OK) == 0) {
            std::ofstream("/sys/class/gpio/unexport") << gpio;
        }
    }
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// The pauses a run prescribes, as its narration announces them (seconds).
double announcedPauses(const std::string& out) {
    double seconds = 0;
    const std::regex waits("Waiting ([0-9]+)s to retry|Retry [0-9]+ of [0-9]+ in ([0-9]+)s");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), waits);
         it != std::sregex_iterator(); ++it) {
        seconds += std::stod((*it)[1].matched ? (*it)[1].str() : (*it)[2].str());
    }
    return seconds;
}

double commandMicros(const std::vector<bw_sim::CommandRecord>& commands, std::size_t from) {
    double total = 0;
    for (std::size_t i = from; i < commands.size(); ++i) {
        total += static_cast<double>((commands[i].ended - commands[i].started).count());
    }
    return total;
}

// What system() costs around a command beyond the command's own run: the shell, the
// exec and the wait, measured with a fake of the hub.
double commandOverheadMicros(bw_sim::Hub& hub, int runs) {
    std::vector<double> overheads;
    for (int i = 0; i < runs; ++i) {
        const std::size_t before = hub.commands().size();
        char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                        const_cast<char*>("/bin/sync"), nullptr};
        char* noEnvironment[] = {nullptr};
        pid_t pid = 0;
        const auto start = Clock::now();
        if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, noEnvironment) != 0) {
            continue;
        }
        ::waitpid(pid, nullptr, 0);
        const double wall = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        overheads.push_back(wall - commandMicros(hub.commands(), before));
    }
    return median(overheads);
}

// Runs `phase` in a child with a sandbox of its own (each simulated hub needs a fresh one)
// and returns the figures it found; throws with its reason when it failed.
std::vector<double> inSandbox(const std::function<std::vector<double>()>& phase) {
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::cout << std::flush;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::ostringstream report;
        report << "=";  // came home
        const std::string error = bw_sim::enterSandbox();
        try {
            if (!error.empty()) {
                throw std::runtime_error("no sandbox: " + error);
            }
            for (double figure : phase()) {
                report << figure << " ";
            }
        } catch (const std::exception& e) {
            report.str("");
            report << "!" << e.what();
        }
        const std::string text = report.str();
        (void)!::write(fds[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fds[0], buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    if (text.empty() || text[0] == '!') {
        throw std::runtime_error(text.empty() ? "the measuring child died" : text.substr(1));
    }
    std::istringstream figures(text.substr(1));
    std::vector<double> values;
    double value;
    while (figures >> value) {
        values.push_back(value);
    }
    return values;
}

// Each round runs every candidate once, so that the machine's moods fall on all alike.
// Gives, per candidate, the series of each Series kind, one after the other.
enum Series : std::size_t { kTime, kDirtyKb, kCpuTime, kSeries };

std::vector<double> normalBoots(const std::vector<Candidate>& candidates, int rounds) {
    bw_sim::Hub hub(bw_sim::Scenario().firstBoot(false));
    std::vector<std::vector<double>> series(candidates.size() * kSeries);
    for (int round = -1; round < rounds; ++round) {  // round -1 warms the caches up
        for (std::size_t c = 0; c < candidates.size(); ++c) {
            unexportLeds();
            const Sample sample = measure(candidates[c], milliseconds(10000));
            if (!sample.ok) {
                throw std::runtime_error(candidates[c].label + " did not reach its wait");
            }
            if (round >= 0) {
                series[c * kSeries + kTime].push_back(sample.micros);
                series[c * kSeries + kDirtyKb].push_back(static_cast<double>(sample.dirtyKb));
                series[c * kSeries + kCpuTime].push_back(sample.cpuMicros);
            }
        }
    }
    std::vector<double> figures;
    for (const std::vector<double>& one : series) {
        figures.insert(figures.end(), one.begin(), one.end());
    }
    return figures;
}

enum FirstBootFigure : std::size_t {
    kDirty,
    kWall,
    kOutside,
    kCommands,
    kPauses,
    kOwn,
    kCpu,
    kFigures
};

std::vector<double> passingFirstBoot(const Candidate& product) {
    bw_sim::Hub hub{bw_sim::Scenario()};
    const Sample sample = measure(product, milliseconds(300000));
    if (!sample.ok || sample.out.find("All tests passed.") == std::string::npos) {
        return {};  // nothing to measure: the run does not pass
    }
    const auto commands = hub.commands();
    const double overhead = commandOverheadMicros(hub, 5);
    const double outside =
        commandMicros(commands, 0) + overhead * static_cast<double>(commands.size());
    const double paused = announcedPauses(sample.out) * 1e6;
    return {static_cast<double>(sample.dirtyKb),
            sample.micros,
            outside,
            static_cast<double>(commands.size()),
            paused,
            sample.micros - outside - paused,
            sample.cpuMicros};
}

// Tells ctest to count the short round as skipped where no hub can be made.
constexpr int kNoHub = 77;

int usage() {
    std::cerr << "usage: bw-bench [--rounds N] [--first-boots N] BW-SELFTEST C-FLOOR "
                 "CXX-FLOOR SHELL-SCRIPT\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 200;
    int firstBoots = 5;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--rounds" || arg == "--first-boots") && i + 1 < argc) {
            (arg == "--rounds" ? rounds : firstBoots) = std::max(1, std::atoi(argv[++i]));
        } else if (arg[0] != '-') {
            paths.push_back(arg);
        } else {
            return usage();
        }
    }
    if (paths.size() != 4) {
        return usage();
    }
    const std::string unavailable = bw_sim::hubUnavailableReason();
    if (!unavailable.empty()) {
        std::cerr << "bw-bench: no simulated hub here: " << unavailable << "\n";
        return kNoHub;
    }
    const std::vector<Candidate> candidates = {
        {"bw-selftest", paths[0], Wait::pause},
        {"C floor", paths[1], Wait::pause},
        {"C++ iostream floor", paths[2], Wait::pause},
        {"POSIX shell script", paths[3], Wait::sleepProgram}};
    // A program file written moments ago (by the build) is still dirty in the page cache,
    // and its mapped pages would count as the process's Private_Dirty until written back.
    ::sync();
    try {
        const std::vector<double> boots =
            inSandbox([&] { return normalBoots(candidates, rounds); });
        const auto n = static_cast<std::size_t>(rounds);
        auto median = [&](std::size_t c, Series kind) {
            const auto from = boots.begin() + static_cast<std::ptrdiff_t>((c * kSeries + kind) * n);
            return ::median(std::vector<double>(from, from + static_cast<std::ptrdiff_t>(n)));
        };
        std::cout << "Normal boot, exec to waiting for ever (median of " << rounds
                  << " rounds; CPU time of the process alone beside it):\n";
        for (std::size_t c = 0; c < candidates.size(); ++c) {
            const double t = median(c, kTime);
            const double cpu = median(c, kCpuTime);
            std::cout << "  " << candidates[c].label
                      << std::string(20 - candidates[c].label.size(), ' ') << fixed(t, 0) << " us  "
                      << fixed(t / median(2, kTime), 2) << " x C++ floor  "
                      << fixed(t / median(3, kTime), 2) << " x shell script   CPU " << fixed(cpu, 0)
                      << " us  " << fixed(cpu / median(2, kCpuTime), 2) << " x C++ floor\n";
        }
        std::cout << "  goal: bw-selftest at most 1.3 x C++ floor and below 1 x shell script\n";

        std::vector<std::vector<double>> first(kFigures);
        for (int run = 0; run < firstBoots; ++run) {
            const std::vector<double> figures =
                inSandbox([&] { return passingFirstBoot(candidates[0]); });
            if (figures.size() != kFigures) {
                std::cout << "  (a first boot did not pass in the simulated hub: not measured)\n";
                break;
            }
            for (std::size_t f = 0; f < kFigures; ++f) {
                first[f].push_back(figures[f]);
            }
        }
        const double floorKb = median(2, kDirtyKb);
        const double normalKb = median(0, kDirtyKb);
        const bool measured = !first[kWall].empty();
        std::cout << "Memory held while waiting (Private_Dirty, median):\n"
                  << "  bw-selftest after a normal boot        " << fixed(normalKb, 0) << " kB   "
                  << fixed(normalKb / floorKb, 2) << " x C++ floor\n";
        if (measured) {
            std::cout << "  bw-selftest after a passing first boot "
                      << fixed(::median(first[kDirty]), 0) << " kB   "
                      << fixed(::median(first[kDirty]) / floorKb, 2) << " x C++ floor\n";
        }
        std::cout << "  C floor " << fixed(median(1, kDirtyKb), 0) << " kB, C++ iostream floor "
                  << fixed(floorKb, 0) << " kB\n"
                  << "  goal: at most 1.5 x C++ floor after either road\n";
        if (measured) {
            std::cout << "Own time in a passing first boot (median of " << first[kWall].size()
                      << " runs):\n  wall " << fixed(::median(first[kWall]) / 1000, 1)
                      << " ms - outside commands " << fixed(::median(first[kOutside]) / 1000, 1)
                      << " ms (" << fixed(::median(first[kCommands]), 0)
                      << " commands with their shells) - announced pauses "
                      << fixed(::median(first[kPauses]) / 1000, 1)
                      << " ms = " << fixed(::median(first[kOwn]) / 1000, 1) << " ms; own CPU time "
                      << fixed(::median(first[kCpu]) / 1000, 1) << " ms\n  goal: under 50 ms\n";
        }
    } catch (const std::exception& e) {
        std::cout << std::flush;
        std::cerr << "bw-bench: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
