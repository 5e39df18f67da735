// What each fixture shows right now, shared between the loop that reads the consoles and
// the threads that answer readers: the loop publishes, readers copy, nobody waits long.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace bw_station {

struct FixtureView {
    std::string fixture;
    std::string device;
    std::string state;  // offline, waiting, booting, testing, or what the last run came to
    std::optional<std::string> model, unit, test, verdict;
    std::optional<std::int64_t> testIndex, testCount, run;
    double start = 0;  // of the run shown; 0 for none
    double end = 0;    // of a run no longer being received; 0 while it is
    struct Test {
        std::string name, outcome;
    };
    std::vector<Test> tests;
    std::string why;  // why it is offline, for the operator's terminal

    bool operator==(const FixtureView& o) const;
};

class LiveBoard {
  public:
    // Changes the version only when something a reader sees has changed.
    void publish(std::vector<FixtureView> fixtures);
    std::string json(double now) const;
    std::vector<FixtureView> snapshot() const;
    std::uint64_t waitForChange(std::uint64_t seen, int timeoutMs) const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<FixtureView> fixtures_;
    std::uint64_t version_ = 1;
};

// The fixture's line on the operator's terminal: control bytes from the console never reach it.
std::string terminalLine(const FixtureView& view, double now);

// The fixtures' lines on the operator's terminal, redrawn in place.
class TerminalBoard {
  public:
    void draw(const std::vector<FixtureView>& views, double now);

  private:
    std::size_t drawn_ = 0;
};

}  // namespace bw_station
