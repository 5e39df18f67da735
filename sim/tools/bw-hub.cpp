// Runs a program (by default bw-selftest), unmodified, in a simulated hub, shows live what
// it prints, the LEDs it sets and the commands it runs, then what it did to the hub. See
// --help.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "hub/FuseMount.hpp"
#include "hub/Hub.hpp"
#include "tools/Console.hpp"
#include "tools/HubOptions.hpp"
#include "tools/LiveView.hpp"
#include "tools/RunOrder.hpp"

namespace {

using bw_sim::tool::Event;
using bw_sim::tool::Micros;
using std::chrono::duration_cast;

// How often the hub is looked at for new LED writes and commands.
constexpr std::chrono::milliseconds kLookEvery{10};
// How long the newest LED write or command start waits before it is shown, for the ones
// that belong on the same line.
constexpr Micros kSettle{std::chrono::milliseconds(100)};
constexpr Micros kPatternSettle{std::chrono::milliseconds(500)};

constexpr int kProgramFailed = 1;
constexpr int kBadCommandLine = 2;
constexpr int kNoHubHere = 3;

// The run's serial console (--console), or none.
bw_sim::tool::Console* theConsole = nullptr;

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

// Turns what the hub recorded into events placed in the program's output (see RunOrder).
class HubEvents {
  public:
    HubEvents(bw_sim::Hub& hub, bw_sim::tool::RunOrder& order, Micros programStart)
        : hub_(hub), order_(order), offset_(programStart) {
        // The program is blocked in each write to an LED's value file: its place in its
        // output is exact then.
        hub.gpio().onWrite([this](const bw_sim::GpioWrite& write) {
            bw_sim::ProgramRun* program = run_;
            if (program != nullptr && write.file.find("/value") != std::string::npos) {
                const std::array<std::size_t, 2> at = {program->written(false),
                                                       program->written(true)};
                const std::lock_guard<std::mutex> lock(mutex_);
                writes_[write.at.count()] = {
                    at, write.file == "gpio" + std::to_string(bw_sim::kLedGpios[2]) + "/value"};
            }
        });
    }

    // The program may outlive this (a run past its limit ends with the hub).
    ~HubEvents() { hub_.gpio().onWrite(nullptr); }
    HubEvents(const HubEvents&) = delete;
    HubEvents& operator=(const HubEvents&) = delete;

    void watch(bw_sim::ProgramRun& run) {
        pipes_[0] = run.pipeInode(false);
        pipes_[1] = run.pipeInode(true);
        run_ = &run;
    }

    // Hands the new LED writes and command starts and ends to the order.
    void gather() {
        const auto writes = hub_.ledValueWrites();
        for (; ledsSeen_ < writes.size(); ++ledsSeen_) {
            Event leds = event(writes[ledsSeen_].at - offset_, Event::Kind::leds);
            leds.leds = writes[ledsSeen_].state;
            const std::lock_guard<std::mutex> lock(mutex_);
            const auto found = writes_.find(writes[ledsSeen_].at.count());
            if (found != writes_.end()) {
                leds.position[0] = found->second.first[0];
                leds.position[1] = found->second.first[1];
                leds.endsPattern = found->second.second;
            } else {  // written before the program was known: placed by time
                leds.position[0] = order_.collectedBy(false, leds.at);
                leds.position[1] = order_.collectedBy(true, leds.at);
            }
            order_.add(leds);
        }
        const auto commands = hub_.commands();
        startSeen_.resize(commands.size());
        endSeen_.resize(commands.size());
        for (std::size_t i = 0; i < commands.size(); ++i) {
            const bw_sim::CommandRecord& record = commands[i];
            if (!startSeen_[i]) {
                startSeen_[i] = 1;
                Event started = event(record.started - offset_, Event::Kind::started, record.line);
                started.command = i;
                place(started, record.startStreams);
                order_.add(started);
            }
            if (record.finished && !endSeen_[i]) {
                endSeen_[i] = 1;
                Event ended = event(record.ended - offset_, Event::Kind::ended, record.line);
                ended.command = i;
                ended.status = record.status;
                ended.took = record.ended - record.started;
                place(ended, record.endStreams);
                order_.add(ended);
            }
        }
    }

  private:
    // A command's place: what was collected by then and what waited in the pipes it
    // shares with the program.
    void place(Event& event, const bw_sim::PipeState (&streams)[2]) const {
        for (const int stream : {0, 1}) {
            event.position[stream] = order_.collectedBy(stream == 1, event.at);
            for (const bw_sim::PipeState& state : streams) {
                if (state.inode != 0 && state.inode == pipes_[stream]) {
                    event.position[stream] += static_cast<std::size_t>(state.pending);
                    break;
                }
            }
        }
    }

    bw_sim::Hub& hub_;
    bw_sim::tool::RunOrder& order_;
    const Micros offset_;
    std::atomic<bw_sim::ProgramRun*> run_{nullptr};
    unsigned long pipes_[2] = {0, 0};
    std::mutex mutex_;
    // Per LED write (by its time): the program's place in each stream, and whether it ends
    // a pattern.
    std::map<std::int64_t, std::pair<std::array<std::size_t, 2>, bool>> writes_;
    std::size_t ledsSeen_ = 0;
    std::vector<char> startSeen_;
    std::vector<char> endSeen_;
};

// What the run did, with times from the program's start.
bw_sim::tool::RunRecord recordOf(const bw_sim::Hub& hub, const bw_sim::ProgramRun& run,
                                 Micros offset) {
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
    return record;
}

// The last line, and the exit status: did the program do its job and wait?
int ending(bw_sim::ProgramRun& run, bool paused, const std::string& name,
           std::chrono::milliseconds took, std::chrono::milliseconds limit) {
    const std::string after = " after " + std::to_string(took.count()) + " ms";
    if (paused) {
        if (!run.terminate()) {
            std::cerr << "bw-hub: " << name << " waited for termination, but SIGTERM did not end it"
                      << std::endl;
            return kProgramFailed;
        }
        std::cout << "bw-hub: " << name << " waited for termination" << after
                  << "; SIGTERM ended it" << std::endl;
        return 0;
    }
    if (run.exited()) {
        const int status = run.waitStatus();
        std::cerr << "bw-hub: " << name
                  << (WIFSIGNALED(status)
                          ? " crashed: " + signalName(WTERMSIG(status))
                          : " exited by itself with status " + std::to_string(WEXITSTATUS(status)))
                  << after << ", instead of waiting for termination" << std::endl;
        return kProgramFailed;
    }
    std::cerr << "bw-hub: " << name << " did not reach its wait for termination within "
              << static_cast<double>(limit.count()) / 1000.0 << " s (--limit gives it longer)"
              << std::endl;
    return kProgramFailed;
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
    const auto start = bw_sim::Hub::Clock::now();
    const auto since = [start] { return duration_cast<Micros>(bw_sim::Hub::Clock::now() - start); };
    const Micros offset = duration_cast<Micros>(start - hub.origin());
    bw_sim::tool::RunOrder order;
    HubEvents events(hub, order, offset);
    bw_sim::ProgramRun& run = hub.start(options.program);
    events.watch(run);
    bw_sim::tool::LiveView view(std::cout, color);
    const auto look = [&](bool all) {
        events.gather();
        view.show(order.due(since(), kSettle, kPatternSettle, all), since());
    };
    // This thread only collects output, so each piece gets the time it was collected;
    // another one looks at the hub and shows what happened. Asking whether the program is
    // in pause() can take a scheduler tick, too long for the collecting thread.
    // The console gets both streams in the order they are collected: the order written,
    // but for writes to the two streams closer together than one collecting round.
    run.onOutput([&](bool error, const std::string& piece) {
        order.collected(error, piece, since());
        if (theConsole != nullptr) {
            theConsole->write(piece);
        }
    });
    std::atomic<bool> watching{true};
    std::atomic<bool> waits{false};
    std::thread viewer([&] {
        while (watching) {
            std::this_thread::sleep_for(kLookEvery);
            look(false);
            waits = waits || run.isPaused();
        }
    });
    while (!waits && since() < options.limit && !run.waitForExit(kLookEvery)) {
    }
    const bool paused = run.waitUntilPaused(std::chrono::milliseconds(0));
    watching = false;
    viewer.join();
    look(true);
    view.finish();
    const auto took = duration_cast<std::chrono::milliseconds>(since());

    const bw_sim::tool::RunRecord record = recordOf(hub, run, offset);
    std::cout << bw_sim::tool::summaryText(record, color) << std::flush;
    if (transcriptFd >= 0) {
        const std::string error = bw_sim::tool::writeTranscript(transcriptFd, record);
        if (!error.empty()) {
            std::cerr << "bw-hub: cannot write the transcript: " << error << std::endl;
        }
    }
    if (paused) {
        std::this_thread::sleep_for(options.hold);
    }
    return ending(run, paused, name, took, options.limit);
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
                  << "; run it as root, or where unprivileged user namespaces are allowed "
                     "(sysctl kernel.unprivileged_userns_clone=1)"
                  << std::endl;
        return kNoHubHere;
    }
    if (!bw_sim::fuseUnavailableReason().empty()) {
        std::cerr << "bw-hub: cannot simulate a hub here: " << bw_sim::fuseUnavailableReason()
                  << (::access("/dev/fuse", F_OK) == 0
                          ? "; run it as root, or let users open /dev/fuse (mode 0666, as "
                            "the fuse3 package sets it)"
                          : "; install fuse3 (apt-get install fuse3) and load it (modprobe fuse)")
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
    // Made before the sandbox, on the real /dev/pts and beside the real path, and before
    // the program starts, so that a station can be on the line first.
    std::unique_ptr<bw_sim::tool::Console> console;
    if (!options.console.empty()) {
        try {
            console = std::make_unique<bw_sim::tool::Console>(options.console);
        } catch (const std::exception& e) {
            std::cerr << "bw-hub: " << e.what() << std::endl;
            return kBadCommandLine;
        }
        theConsole = console.get();
        std::cout << "bw-hub: the console is on " << options.console << " (" << console->device()
                  << ")" << std::endl;
        console->write(bw_sim::tool::kConsoleBootLines);
    }
    const std::string sandboxError = bw_sim::enterSandbox();
    if (!sandboxError.empty()) {
        std::cerr << "bw-hub: cannot make the sandbox: " << sandboxError << std::endl;
        return kNoHubHere;
    }
    int status = kProgramFailed;
    try {
        status = watch(options, transcriptFd, color);
    } catch (const std::exception& e) {
        std::cerr << "bw-hub: " << e.what() << std::endl;
    }
    if (console && console->dropped() > 0) {
        std::cerr << "bw-hub: " << console->dropped()
                  << " bytes for the console were lost: nobody read it" << std::endl;
    }
    return status;
}
