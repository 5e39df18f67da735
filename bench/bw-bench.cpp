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

// How the candidate waits for ever once its work is done; a traced program is the child of
// its tracer.
enum class Wait { pause, sleepProgram, tracedPause };

struct Candidate {
    std::string label;
    std::string path;
    Wait wait;
    std::vector<std::string> arguments = {};
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

// The process the figures are about: the candidate, or the program its tracer started.
pid_t watched(pid_t pid, Wait wait) {
    if (wait != Wait::tracedPause) {
        return pid;
    }
    std::istringstream children(
        readText("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children"));
    pid_t child = -1;
    return children >> child ? child : -1;
}

bool waiting(pid_t pid, Wait wait) {
    if (pid < 0) {
        return false;
    }
    std::istringstream call(readText("/proc/" + std::to_string(pid) + "/syscall"));
    long number = -1;
    if (!(call >> number)) {
        return false;  // "running"
    }
    if (wait != Wait::sleepProgram) {
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
        std::vector<char*> argv = {const_cast<char*>(candidate.path.c_str())};
        for (const std::string& argument : candidate.arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        char* noEnvironment[] = {nullptr};
        *moment = Clock::now().time_since_epoch().count();
        ::execve(argv[0], argv.data(), noEnvironment);
        ::_exit(127);
    }
    const auto deadline = Clock::now() + limit;
    pid_t program = -1;
    for (;;) {
        program = watched(pid, candidate.wait);
        if (waiting(program, candidate.wait)) {
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
        sample.dirtyKb = privateDirtyKb(program);
        sample.cpuMicros = cpuMicros(program);
        ::kill(program, SIGKILL);
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

// The program's time in a run as strace saw it (follow forks, stopped only at these calls):
// from its exec to its pause, the time spent starting and awaiting outside commands, and
// the time slept.
struct Traced {
    bool ok = false;
    double wall = 0;
    double outside = 0;
    unsigned commands = 0;
    double slept = 0;
};

const char* const kTrace = "/tmp/bw-bench-trace";  // inside the sandbox's own /tmp
const char* const kTracedCalls =
    "trace=execve,clone,clone3,vfork,wait4,nanosleep,clock_nanosleep,pause";

Traced readTrace(const std::string& text) {
    Traced traced;
    std::istringstream lines(text);
    std::string line;
    long program = -1;
    double started = 0;
    const std::regex call(
        R"(^(\d+) +(\d+\.\d+) (?:<\.\.\. )?([a-z_0-9]+)[( ].*?(?:<(\d+\.\d+)>)?$)");
    while (std::getline(lines, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, call)) {
            continue;
        }
        const long pid = std::stol(m[1]);
        const double at = std::stod(m[2]) * 1e6;
        const std::string name = m[3];
        const double took = m[4].matched ? std::stod(m[4]) * 1e6 : 0;
        if (program < 0 && name == "execve") {
            program = pid;
            started = at;
        }
        if (pid != program) {
            continue;
        }
        if (name == "pause") {
            traced.wall = at - started;
            traced.ok = true;
            break;
        }
        if (name == "wait4" || name == "clone" || name == "clone3" || name == "vfork") {
            traced.outside += took;
            traced.commands += name == "wait4" && took > 0 ? 1U : 0U;
        } else if (name == "nanosleep" || name == "clock_nanosleep") {
            traced.slept += took;
        }
    }
    return traced;
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

// Under strace, so that the time in outside commands and in pauses is known to the
// microsecond; the tracer's own stops add a little to the program's time.
std::vector<double> passingFirstBoot(const std::string& product) {
    bw_sim::Hub hub{bw_sim::Scenario()};
    const bool canTrace = ::access("/usr/bin/strace", X_OK) == 0;
    const Candidate plain{"bw-selftest", product, Wait::pause};
    const Candidate traced{
        "bw-selftest under strace",
        "/usr/bin/strace",
        Wait::tracedPause,
        {"-f", "--seccomp-bpf", "-qq", "-ttt", "-T", "-e", kTracedCalls, "-o", kTrace, product}};
    const Sample sample = measure(canTrace ? traced : plain, milliseconds(300000));
    if (!sample.ok || sample.out.find("All tests passed.") == std::string::npos) {
        return {};  // nothing to measure: the run does not pass
    }
    const Traced run = canTrace ? readTrace(readText(kTrace)) : Traced{};
    const double unknown = -1;  // no strace here: only the memory is measured
    return {static_cast<double>(sample.dirtyKb),
            run.ok ? run.wall : unknown,
            run.outside,
            static_cast<double>(run.commands),
            run.slept,
            run.wall - run.outside - run.slept,
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
                inSandbox([&] { return passingFirstBoot(paths[0]); });
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
        if (measured && ::median(first[kWall]) < 0) {
            std::cout << "Own time in a passing first boot: not measured (needs strace)\n";
        } else if (measured) {
            std::cout << "Own time in a passing first boot (median of " << first[kWall].size()
                      << " runs):\n  wall " << fixed(::median(first[kWall]) / 1000, 1)
                      << " ms - outside commands " << fixed(::median(first[kOutside]) / 1000, 1)
                      << " ms (" << fixed(::median(first[kCommands]), 0) << " commands) - pauses "
                      << fixed(::median(first[kPauses]) / 1000, 1)
                      << " ms = " << fixed(::median(first[kOwn]) / 1000, 1) << " ms; own CPU time "
                      << fixed(::median(first[kCpu]) / 1000, 1)
                      << " ms\n  (under strace, stopping only at exec, fork, wait, sleep and pause)"
                      << "\n  goal: under 50 ms\n";
        }
    } catch (const std::exception& e) {
        std::cout << std::flush;
        std::cerr << "bw-bench: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
