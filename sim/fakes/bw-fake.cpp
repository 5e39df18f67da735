// One program for every fake the hub installs: it runs under the name of the program it
// stands for, logs its command line, and does what the scenario scripted for it.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "fakes/CommandLog.hpp"
#include "fakes/Effects.hpp"
#include "fakes/FakeRules.hpp"
#include "fakes/Paths.hpp"

namespace {

using namespace bw_sim;

// The exit status when the fake cannot log: a test must not take such a run for real.
constexpr int kCannotLog = 125;

std::chrono::microseconds now() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::duration_cast<std::chrono::microseconds>(
                                                 std::chrono::nanoseconds(ts.tv_nsec));
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
}

std::string readFile(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string text = readAll(fd);
    ::close(fd);
    return text;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Appends `entry` under the log's lock; with a rule, first counts the earlier runs it
// covers. -1 when the log cannot be written.
long appendToLog(const std::string& entry, const FakeRule* rule) {
    const int fd = ::open(kCommandLogPath, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    long earlier = 0;
    if (rule != nullptr) {
        for (const CommandRecord& record : command_log::parse(readAll(fd))) {
            const bool covered = rule->commandLine.empty() ? record.program == rule->program
                                                           : record.line == rule->commandLine;
            earlier += covered ? 1 : 0;
        }
    }
    const bool written = writeAll(fd, entry);
    ::close(fd);  // also drops the lock
    return written ? earlier : -1;
}

// Where this run stands in its caller's standard output and error.
void pipeStates(PipeState (&streams)[2]) {
    for (int fd = 1; fd <= 2; ++fd) {
        struct stat st {};
        int pending = 0;
        if (::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode) && ::ioctl(fd, FIONREAD, &pending) == 0) {
            streams[fd - 1] = {static_cast<unsigned long>(st.st_ino), pending};
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    std::string line;
    for (const std::string& arg : args) {
        line += (line.empty() ? "" : " ") + arg;
    }
    const std::string program = programOf(args.empty() ? std::string() : args[0]);
    const FakeRules rules = FakeRules::parse(readFile(kFakeRulesPath));
    const FakeRule* rule = rules.find(program, line);
    const Outcome outcome = rule != nullptr ? rule->outcome : Outcome::succeeds();

    const pid_t pid = ::getpid();
    PipeState streams[2];
    pipeStates(streams);
    const long earlierRuns =
        appendToLog(command_log::startEntry(pid, now(), program, line, streams), rule);
    if (earlierRuns < 0) {
        std::fprintf(stderr, "%s (simulated): cannot write %s\n", program.c_str(), kCommandLogPath);
        return kCannotLog;
    }
    int status = outcome.statusOfRun(static_cast<std::size_t>(earlierRuns));
    std::this_thread::sleep_for(outcome.duration());
    if (!writeAll(STDOUT_FILENO, outcome.out()) || !writeAll(STDERR_FILENO, outcome.err())) {
        status = status == 0 ? 1 : status;
    }
    if (status == 0 && outcome.hasEffect()) {
        status = applyEffect(program, args);
    }
    std::fflush(nullptr);
    PipeState ending[2];
    pipeStates(ending);
    if (appendToLog(command_log::endEntry(pid, now(), status, ending), nullptr) < 0) {
        return kCannotLog;
    }
    if (status < 0) {
        ::signal(-status, SIG_DFL);
        ::raise(-status);
    }
    return status;
}
