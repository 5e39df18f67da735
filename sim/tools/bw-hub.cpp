// Runs a program (by default bw-selftest), unmodified, in a simulated hub, shows live what
// it prints, the LEDs it sets and the commands it runs, then what it did to the hub. See
// --help.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

#include "hub/FuseMount.hpp"
#include "hub/Hub.hpp"
#include "tools/HubOptions.hpp"
#include "tools/LiveView.hpp"

namespace {

using bw_sim::tool::Event;
using bw_sim::tool::Micros;
using std::chrono::duration_cast;

// How often the hub is looked at for new LED writes and commands.
constexpr std::chrono::milliseconds kLookEvery{10};

constexpr int kProgramFailed = 1;
constexpr int kBadCommandLine = 2;
constexpr int kNoHubHere = 3;

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The directory is opened before the sandbox covers any path, so the files land on the
// real system whatever it is under.
int openTranscriptDirectory(const std::string& path, std::string& error) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string partial = path.substr(0, slash);
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
            error = partial + ": " + std::strerror(errno);
            return -1;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
    }
    return fd;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end = 0; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// The lines of the hub's description that differ from the default hub's.
std::string differences(const bw_sim::Scenario& scenario) {
    const std::vector<std::string> standard = linesOf(bw_sim::Scenario().describe());
    std::string text;
    for (const std::string& line : linesOf(scenario.describe())) {
        if (std::find(standard.begin(), standard.end(), line) == standard.end()) {
            text += "bw-hub:   " + line + "\n";
        }
    }
    return text;
}

Event event(Micros at, Event::Kind kind, const std::string& text = {}) {
    Event made;
    made.at = at;
    made.kind = kind;
    made.text = text;
    return made;
}

std::string signalName(int signal) {
    const char* name = ::strsignal(signal);
    return "signal " + std::to_string(signal) +
           (name != nullptr ? std::string(" (") + name + ")" : "");
}

int watch(const bw_sim::tool::ToolOptions& options, int transcriptFd, bool color) {
    bw_sim::Hub hub(options.scenario);
    const std::string name = baseName(options.program);
    const std::string changes = differences(options.scenario);
    std::cout << "bw-hub: " << name << " in a simulated hub: "
              << (changes.empty() ? "a prism-1v1-eu on its first boot, everything works\n"
                                  : "the default one (a prism-1v1-eu on its first boot, "
                                    "everything works) with these changes:\n" +
                                        changes)
              << std::flush;
    bw_sim::tool::LiveView view(std::cout, color);
    std::vector<Event> events;
    const auto start = bw_sim::Hub::Clock::now();
    const Micros offset = duration_cast<Micros>(start - hub.origin());
    const auto since = [start] { return duration_cast<Micros>(bw_sim::Hub::Clock::now() - start); };
    bw_sim::ProgramRun& run = hub.start(options.program);
    run.onOutput([&](bool error, const std::string& piece) {
        events.push_back(event(since(), error ? Event::Kind::err : Event::Kind::out, piece));
    });
    std::size_t ledsShown = 0;
    std::vector<char> startShown;
    std::vector<char> endShown;
    const auto look = [&] {
        const auto writes = hub.ledValueWrites();
        for (; ledsShown < writes.size(); ++ledsShown) {
            events.push_back(event(writes[ledsShown].at - offset, Event::Kind::leds));
            events.back().leds = writes[ledsShown].state;
        }
        const auto commands = hub.commands();
        startShown.resize(commands.size());
        endShown.resize(commands.size());
        for (std::size_t i = 0; i < commands.size(); ++i) {
            const bw_sim::CommandRecord& record = commands[i];
            if (!startShown[i]) {
                startShown[i] = 1;
                events.push_back(event(record.started - offset, Event::Kind::started, record.line));
                events.back().command = i;
            }
            if (record.finished && !endShown[i]) {
                endShown[i] = 1;
                events.push_back(event(record.ended - offset, Event::Kind::ended, record.line));
                events.back().command = i;
                events.back().status = record.status;
                events.back().took = record.ended - record.started;
            }
        }
        view.show(std::move(events), since());
        events.clear();
    };
    bool paused = false;
    while (!paused && !run.exited() && since() < options.limit) {
        paused = run.waitUntilPaused(kLookEvery);
        look();
    }
    view.finish();

    bw_sim::tool::RunRecord record;
    record.out = run.out();
    record.err = run.err();
    for (bw_sim::CommandRecord command : hub.commands()) {
        command.started -= offset;
        command.ended -= offset;
        record.commands.push_back(command);
    }
    for (bw_sim::LedChange change : hub.ledHistory()) {
        change.at -= offset;
        record.leds.push_back(change);
    }
    record.lastLeds = hub.leds();
    record.files = hub.fileChanges();
    record.problems = hub.problems();
    for (const bw_sim::I2cWrite& write : hub.i2cWrites()) {
        record.i2c.push_back(
            write.file + " <- \"" + write.data + "\"" +
            (write.error != 0 ? ": refused, " + std::string(std::strerror(write.error)) : ""));
    }
    std::cout << bw_sim::tool::summaryText(record, color) << std::flush;
    if (transcriptFd >= 0) {
        const std::string error = bw_sim::tool::writeTranscript(transcriptFd, record);
        if (!error.empty()) {
            std::cerr << "bw-hub: cannot write the transcript: " << error << std::endl;
        }
    }

    const std::string took =
        std::to_string(
            duration_cast<std::chrono::milliseconds>(bw_sim::Hub::Clock::now() - start).count()) +
        " ms";
    if (paused) {
        if (!run.terminate()) {
            std::cerr << "bw-hub: " << name << " waited for termination, but SIGTERM did not end it"
                      << std::endl;
            return kProgramFailed;
        }
        std::cout << "bw-hub: " << name << " waited for termination after " << took
                  << "; SIGTERM ended it" << std::endl;
        return 0;
    }
    if (run.exited()) {
        const int status = run.waitStatus();
        std::cerr << "bw-hub: " << name
                  << (WIFSIGNALED(status)
                          ? " crashed: " + signalName(WTERMSIG(status))
                          : " exited by itself with status " + std::to_string(WEXITSTATUS(status)))
                  << " after " << took << ", instead of waiting for termination" << std::endl;
        return kProgramFailed;
    }
    std::cerr << "bw-hub: " << name << " did not reach its wait for termination within "
              << static_cast<double>(options.limit.count()) / 1000.0
              << " s (--limit gives it longer)" << std::endl;
    return kProgramFailed;
}

}  // namespace

int main(int argc, char** argv) {
    bw_sim::tool::ToolOptions options;
    const std::string error = bw_sim::tool::parseOptions(
        std::vector<std::string>(argv + 1, argv + argc), BW_SELFTEST_PATH, options);
    if (options.help) {
        std::cout << bw_sim::tool::helpText(BW_SELFTEST_PATH);
        return 0;
    }
    if (!error.empty()) {
        std::cerr << "bw-hub: " << error << std::endl;
        return kBadCommandLine;
    }
    if (!bw_sim::sandboxUnavailableReason().empty()) {
        std::cerr << "bw-hub: cannot simulate a hub here: " << bw_sim::sandboxUnavailableReason()
                  << "; run it as root, or allow user namespaces "
                     "(sysctl kernel.unprivileged_userns_clone=1)"
                  << std::endl;
        return kNoHubHere;
    }
    if (!bw_sim::fuseUnavailableReason().empty()) {
        std::cerr << "bw-hub: cannot simulate a hub here: " << bw_sim::fuseUnavailableReason()
                  << "; install fuse3 (apt-get install fuse3) and load it (modprobe fuse)"
                  << std::endl;
        return kNoHubHere;
    }
    if (!bw_sim::hubUnavailableReason().empty()) {
        std::cerr << "bw-hub: cannot simulate a hub here: " << bw_sim::hubUnavailableReason()
                  << "; build it with scripts/build" << std::endl;
        return kNoHubHere;
    }
    int transcriptFd = -1;
    if (!options.transcript.empty()) {
        std::string why;
        transcriptFd = openTranscriptDirectory(options.transcript, why);
        if (transcriptFd < 0) {
            std::cerr << "bw-hub: cannot make the transcript directory " << why << std::endl;
            return kBadCommandLine;
        }
    }
    const char* term = std::getenv("TERM");
    const bool color = !options.noColor && ::isatty(1) && std::getenv("NO_COLOR") == nullptr &&
                       (term == nullptr || std::string(term) != "dumb");
    const std::string sandboxError = bw_sim::enterSandbox();
    if (!sandboxError.empty()) {
        std::cerr << "bw-hub: cannot make the sandbox: " << sandboxError << std::endl;
        return kNoHubHere;
    }
    try {
        return watch(options, transcriptFd, color);
    } catch (const std::exception& e) {
        std::cerr << "bw-hub: " << e.what() << std::endl;
        return kProgramFailed;
    }
}
