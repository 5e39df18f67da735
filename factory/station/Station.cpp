// One thread polls every console; reading never waits for the database's readers (they have
// connections of their own) nor for a slow console (each read takes what is there).
#include "station/Station.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "lib/rawio/FileDescriptor.hpp"
#include "record/Suites.hpp"
#include "station/Device.hpp"
#include "station/Live.hpp"
#include "station/LiveApi.hpp"
#include "station/Splitter.hpp"
#include "station/Store.hpp"
#include "station/Time.hpp"

namespace bw_station {

namespace {

constexpr int kPollMs = 250;
constexpr double kCommitSeconds = 1;
// A run's verdict or end is committed this soon: on a busy line many runs share one commit.
constexpr double kRunCommitSeconds = 0.1;
constexpr double kReopenSeconds = 1;
constexpr double kDrawSeconds = 0.5;
// The live page's view is rebuilt at most this often: a busy console wakes the loop far
// more often than a reader can look.
constexpr double kPublishSeconds = 0.1;
// Bytes not yet in the database; at 256 KiB they are written at once (committed within the
// second like the rest), so a console faster than any serial line cannot grow it.
constexpr std::size_t kMaxPending = std::size_t{256} * 1024;
// One read per console per turn of the loop, so a console that never stops talking cannot
// keep the others waiting.
constexpr std::size_t kReadSize = std::size_t{16} * 1024;

const char* const kStationStopped = "the station stopped during the run";
const char* const kConsoleLost = "the console went away during the run";

// One fixture's console, its bytes on their way to the database, and what it shows.
struct Fixture {
    FixtureSpec spec;
    std::int64_t id = 0;
    RawIO::FileDescriptor fd;
    std::string why;  // why it is offline
    double nextOpen = 0;
    Splitter splitter;
    std::string pending;
    std::uint64_t pendingOffset = 0;
    double pendingTime = 0;
    std::int64_t runId = 0;        // of the open run
    std::int64_t lastRunId = 0;    // of the run in `last`
    bool received = false;         // bytes since it came online
    std::optional<RunState> last;  // the last run, shown until the next model line
};

class Loop {
  public:
    Loop(const StationOptions& options, Store& store) : options_(options), store_(store) {
        for (const FixtureSpec& spec : options.fixtures) {
            Fixture& f = fixtures_.emplace_back();
            f.spec = spec;
            f.id = store.fixture(spec.name, spec.device);
            f.splitter = Splitter(store.streamEnd(f.id));
        }
    }

    void openConsoles(double now) {
        for (Fixture& f : fixtures_) {
            if (!f.fd && now >= f.nextOpen) {
                const std::string before = f.why;
                f.fd = openConsole(f.spec.device, options_.baud, f.why);
                f.nextOpen = now + kReopenSeconds;
                f.received = false;
                if (f.fd) {
                    say(f, "online");
                } else if (f.why != before) {  // once, not at every retry
                    say(f, "offline: " + f.why);
                }
            }
        }
    }

    // Reads what each readable console has; a console that hung up is let go.
    void read(const std::vector<pollfd>& polled, double now) {
        for (std::size_t i = 0; i < fixtures_.size(); ++i) {
            Fixture& f = fixtures_[i];
            if (!f.fd || polled[i].revents == 0) {
                continue;
            }
            char buffer[kReadSize];
            const ssize_t got = ::read(f.fd.get(), buffer, sizeof buffer);
            const bool hungUp = (polled[i].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
            if (got > 0) {
                receive(f, std::string_view(buffer, static_cast<std::size_t>(got)), now);
            } else if (got == 0 || hungUp || (errno != EAGAIN && errno != EINTR)) {
                f.why = got < 0 && errno != EAGAIN
                            ? "reading the console: " + std::string(std::strerror(errno))
                            : "the console hung up";
                lose(f, now, kConsoleLost);
            }
        }
    }

    void tick(double now) {
        for (Fixture& f : fixtures_) {
            f.splitter.tick(now);
            handle(f);
        }
        if (now - lastCommit_ >= (commitSoon_ ? kRunCommitSeconds : kCommitSeconds)) {
            commit(now);
        }
    }

    void stop(double now) {
        for (Fixture& f : fixtures_) {
            drain(f, now);
            f.splitter.finish(StreamEnd::lost, kStationStopped);
            handle(f);
        }
        commit(now);
    }

    // Long enough to sleep, short enough to commit a run's end on time.
    int pollTimeout(double now) const {
        if (!commitSoon_) {
            return kPollMs;
        }
        return std::max(0, static_cast<int>((lastCommit_ + kRunCommitSeconds - now) * 1000) + 1);
    }

    std::vector<pollfd> pollSet() const {
        std::vector<pollfd> set;
        for (const Fixture& f : fixtures_) {
            set.push_back({f.fd ? f.fd.get() : -1, POLLIN, 0});
        }
        return set;
    }

    std::vector<FixtureView> views() const;
    void start() { store_.begin(); }

  private:
    void receive(Fixture& f, std::string_view bytes, double now) {
        if (f.pending.empty()) {
            f.pendingOffset = f.splitter.offset();
            f.pendingTime = now;
        }
        f.pending.append(bytes);
        f.received = true;
        f.splitter.feed(bytes, now);
        handle(f);
        if (f.pending.size() >= kMaxPending) {
            flush(f);
        }
    }

    // Whatever is still to be read from a console that goes away was lost with it.
    void lose(Fixture& f, double now, const char* why) {
        f.splitter.finish(StreamEnd::lost, why);
        handle(f);
        f.fd = RawIO::FileDescriptor();
        f.nextOpen = now + kReopenSeconds;
        commitSoon_ = true;
        say(f, "offline: " + f.why);
    }

    // What is readable at once when the station stops.
    void drain(Fixture& f, double now) {
        char buffer[kReadSize];
        for (int i = 0; f.fd && i < 64; ++i) {
            const ssize_t got = ::read(f.fd.get(), buffer, sizeof buffer);
            if (got <= 0) {
                return;
            }
            receive(f, std::string_view(buffer, static_cast<std::size_t>(got)), now);
        }
    }

    void flush(Fixture& f) {
        if (!f.pending.empty()) {
            store_.appendBytes(f.id, f.pendingOffset, f.pendingTime, f.pending);
            f.pending.clear();
        }
    }

    void handle(Fixture& f) {
        for (RunEvent& event : f.splitter.takeEvents()) {
            switch (event.kind) {
                case EventKind::started:
                    f.runId = store_.insertRun(f.id, event.run);
                    f.last.reset();
                    f.lastRunId = 0;
                    break;
                case EventKind::decided:
                    store_.updateRun(f.runId, event.run);
                    say(f, "run " + std::to_string(f.runId) + " " + outcomeOf(event.run) + ": " +
                               event.run.reason);
                    commitSoon_ = true;
                    break;
                case EventKind::ended:
                    store_.updateRun(f.runId, event.run);
                    f.last = std::move(event.run);
                    f.lastRunId = f.runId;
                    f.runId = 0;
                    commitSoon_ = true;
                    break;
            }
        }
    }

    // Bytes first, so that a committed run never points past its stored bytes.
    void commit(double now) {
        for (Fixture& f : fixtures_) {
            flush(f);
            if (const RunState* open = f.splitter.open(); open != nullptr && !open->decided) {
                store_.updateRun(f.runId, *open);
            }
        }
        store_.commit();
        store_.begin();
        lastCommit_ = now;
        commitSoon_ = false;
    }

    void say(const Fixture& f, const std::string& what) const {
        if (!quietLog_) {
            std::cout << f.spec.name << ": " << what << std::endl;
        }
    }

  public:
    bool quietLog_ = false;

  private:
    const StationOptions& options_;
    Store& store_;
    std::vector<Fixture> fixtures_;
    double lastCommit_ = 0;
    bool commitSoon_ = false;
};

FixtureView viewOf(const Fixture& f) {
    const std::int64_t runId = f.runId != 0 ? f.runId : f.lastRunId;
    FixtureView view;
    view.fixture = f.spec.name;
    view.device = f.spec.device;
    const RunState* run = f.splitter.open();
    if (run == nullptr && f.last) {
        run = &*f.last;
    }
    if (!f.fd) {
        view.state = "offline";
        view.why = f.why;
    } else if (run == nullptr) {
        view.state = f.received ? "booting" : "waiting";
    } else if (!run->decided) {
        view.state = "testing";
    } else {
        view.state = outcomeOf(*run);
    }
    if (run == nullptr) {
        return view;
    }
    const bw_record::RunRecord& record = run->record;
    if (record.modelKnown) {
        view.model = record.model;
        const std::size_t count = bw_record::suiteOf(record.model).size();
        if (count > 0) {
            view.testCount = static_cast<std::int64_t>(count);
        }
    }
    if (const std::string unit = unitOf(record); !unit.empty()) {
        view.unit = unit;
    }
    if (!run->decided && !record.tests.empty() &&
        record.tests.back().outcome == bw_record::Outcome::incomplete) {
        view.test = record.tests.back().name;
        view.testIndex = static_cast<std::int64_t>(record.tests.size());
    }
    if (run->decided) {
        view.verdict = outcomeOf(*run);
    }
    if (runId != 0) {
        view.run = runId;
    }
    view.start = run->startTime;
    view.end = run->decided || run->ended ? run->endTime : 0;
    for (const bw_record::Section& test : record.tests) {
        view.tests.push_back({test.name, bw_record::outcomeText(test.outcome)});
    }
    return view;
}

std::vector<FixtureView> Loop::views() const {
    std::vector<FixtureView> views;
    for (const Fixture& f : fixtures_) {
        views.push_back(viewOf(f));
    }
    return views;
}

}  // namespace

namespace {

// SIGINT and SIGTERM arrive as a readable descriptor, polled with the consoles.
RawIO::FileDescriptor stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        return RawIO::FileDescriptor();
    }
    return RawIO::FileDescriptor(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
}

}  // namespace

int runStation(const StationOptions& options, const ServiceStarter& startService) {
    const RawIO::FileDescriptor signals = stopSignals();
    if (!signals) {
        std::cerr << "bw-station: cannot receive signals: " << std::strerror(errno) << "\n";
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    try {
        Store store(options.database);
        Loop loop(options, store);
        const bool terminal = isatty(STDOUT_FILENO) != 0;
        loop.quietLog_ = terminal;
        LiveBoard live;
        TerminalBoard board;
        loop.start();
        double now = wallClock();
        loop.openConsoles(now);
        live.publish(loop.views());
        LiveApi api(options.database, live);
        const std::unique_ptr<Service> service = startService ? startService(api) : nullptr;
        double lastDraw = 0;
        double lastPublish = 0;
        for (;;) {
            std::vector<pollfd> set = loop.pollSet();
            set.push_back({signals.get(), POLLIN, 0});
            if (::poll(set.data(), set.size(), loop.pollTimeout(now)) < 0 && errno != EINTR) {
                std::cerr << "bw-station: poll: " << std::strerror(errno) << "\n";
                break;
            }
            now = wallClock();
            if (set.back().revents != 0) {
                break;
            }
            set.pop_back();
            loop.read(set, now);
            loop.openConsoles(now);
            loop.tick(now);
            if (now - lastPublish >= kPublishSeconds) {
                live.publish(loop.views());
                lastPublish = now;
            }
            if (terminal && now - lastDraw >= kDrawSeconds) {
                board.draw(loop.views(), now);
                lastDraw = now;
            }
        }
        loop.stop(wallClock());
        live.publish(loop.views());
        if (terminal) {
            board.draw(loop.views(), wallClock());
        }
        return 0;
    } catch (const DatabaseError& error) {
        std::cerr << "bw-station: " << error.what() << "\n";
        return 1;
    }
}

}  // namespace bw_station
