// The simulated hub: lays a Scenario out in the calling process's sandbox, runs the program
// under test in it, lets tests read what happened, and tears it all down.
//
//   bw_sim::runInHub(Scenario().firstBoot(false), [](Hub& hub) {
//       ProgramRun& run = hub.start(BW_SELFTEST_PATH);
//       ASSERT_TRUE(run.waitUntilPaused(seconds(10)));
//       EXPECT_EQ(lit(true, true, true), hub.leds());
//   });
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fakes/CommandLog.hpp"
#include "hub/GpioFs.hpp"
#include "hub/I2cAdapterFs.hpp"
#include "hub/Leds.hpp"
#include "hub/Scenario.hpp"
#include "hub/Snapshot.hpp"
#include "sandbox/ProgramRun.hpp"
#include "sandbox/Sandbox.hpp"

namespace bw_sim {

class FuseMount;
class Scheduler;

class Hub {
  public:
    using Clock = std::chrono::steady_clock;

    // Lays the hub out. Only inside a sandbox (runInSandbox's child, or after enterSandbox);
    // throws std::runtime_error elsewhere or when a piece cannot be made.
    explicit Hub(const Scenario& scenario);
    Hub(const Hub&) = delete;
    Hub& operator=(const Hub&) = delete;
    // Ends every process started in the hub and everything they started, then the added
    // devices, the timer thread and the FUSE file systems.
    ~Hub();

    // Starts the program at `path` with no arguments and no environment.
    ProgramRun& start(const std::string& path);
    // Starts `body` in a child process, as if it were the program.
    ProgramRun& start(const std::function<void()>& body);

    // When the hub was made; every time below counts from here.
    Clock::time_point origin() const { return origin_; }
    // Throws std::logic_error when the scenario has no GPIO directory.
    GpioFs& gpio();
    const GpioFs& gpio() const;
    LedState leds() const;
    std::vector<LedChange> ledHistory() const;
    // The LEDs after each write to one of their value files, changed or not.
    std::vector<LedChange> ledValueWrites() const;
    // Every run of a fake program so far, in the order they started.
    std::vector<CommandRecord> commands() const;
    std::vector<std::string> commandLines() const;
    std::vector<I2cWrite> i2cWrites() const;
    // What changed in the hub's files since it was made.
    std::vector<FileChange> fileChanges() const;
    // Failures of the hub's own delayed work (such as making a device entry); expected empty.
    std::vector<std::string> problems() const;

    // Runs `action` on the hub's timer thread `delay` after the hub was made.
    void at(std::chrono::milliseconds delay, std::function<void()> action);

    // The first added device of type T, or null.
    template <class T>
    T* device() const {
        for (const auto& added : devices_) {
            if (T* found = dynamic_cast<T*>(added.get())) {
                return found;
            }
        }
        return nullptr;
    }

  private:
    void layOutFiles(const Scenario& scenario);
    void layOutSysfs(const Scenario& scenario);
    void layOutDev(const Scenario& scenario);
    void installFakes(const Scenario& scenario);
    void onI2cRegistered(const std::string& name, unsigned address);

    const Clock::time_point origin_;
    const Scenario scenario_;
    // Declared so that destruction runs from the bottom up: processes first, the FUSE
    // file systems last.
    std::unique_ptr<GpioFs> gpio_;
    std::unique_ptr<I2cAdapterFs> i2c_;
    std::unique_ptr<FuseMount> gpioMount_;
    std::unique_ptr<FuseMount> i2cMount_;
    std::unique_ptr<Scheduler> scheduler_;
    std::vector<std::unique_ptr<HubDevice>> devices_;
    FileSnapshot initialFiles_;
    std::vector<std::unique_ptr<ProgramRun>> runs_;
};

// The directories whose changes fileChanges() reports.
const std::vector<std::string>& watchedDirectories();

// Empty when hubs can be made here; otherwise a one-line reason.
const std::string& hubUnavailableReason();

// Skips the current test, with the reason, where no hub can be made.
#define BW_REQUIRE_HUB()                                                   \
    do {                                                                   \
        const std::string& bwHubReason = ::bw_sim::hubUnavailableReason(); \
        if (!bwHubReason.empty()) {                                        \
            GTEST_SKIP() << bwHubReason;                                   \
        }                                                                  \
    } while (0)

// Runs `body` in a sandbox with the hub of `scenario` around it (see runInSandbox for how
// failures come home). The hub is torn down when the body returns, fails or throws; a
// body that passes `limit` is killed with everything in the sandbox.
void runInHub(const Scenario& scenario, const std::function<void(Hub&)>& body,
              std::chrono::milliseconds limit = kDefaultChildLimit);

}  // namespace bw_sim
