// The hub's life: made from a scenario, programs started in it, state read, torn down.
#include "hub/Hub.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "fakes/Paths.hpp"
#include "hub/EnOceanModule.hpp"
#include "hub/FuseMount.hpp"
#include "hub/HubPaths.hpp"
#include "hub/Scheduler.hpp"
#include "sandbox/Processes.hpp"

namespace bw_sim {

namespace {

std::string readWhole(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string text;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

LedState initialLeds(const GpioOptions& options) {
    LedState state;
    const auto levelOf = [&options](unsigned gpio) {
        const auto found = options.exported.find(gpio);
        if (found == options.exported.end() || !found->second.output) {
            return -1;
        }
        return found->second.value != 0 ? 1 : 0;
    };
    state.first = levelOf(kLedGpios[0]);
    state.second = levelOf(kLedGpios[1]);
    state.third = levelOf(kLedGpios[2]);
    return state;
}

}  // namespace

Hub::Hub(const Scenario& scenario) : origin_(Clock::now()), scenario_(scenario) {
    if (!insideSandbox()) {
        throw std::runtime_error("a simulated hub covers system paths: only inside a sandbox");
    }
    adoptOrphans();
    scheduler_ = std::make_unique<Scheduler>();
    // The FUSE mounts open /dev/fuse, which the hub's own /dev does not have.
    layOutSysfs(scenario_);
    layOutDev(scenario_);
    layOutFiles(scenario_);
    installFakes(scenario_);
    initialFiles_ = takeSnapshot(watchedDirectories());
    if (scenario_.enoceanModule_) {
        devices_.push_back(std::make_unique<EnOceanModule>(*scenario_.enoceanModule_));
    }
    for (const HubDeviceFactory& factory : scenario_.devices_) {
        devices_.push_back(factory(*this));
    }
}

Hub::~Hub() {
    runs_.clear();
    // Shells and fakes left behind by a program that was killed halfway.
    endDescendants();
    devices_.clear();
    i2cMount_.reset();
    gpioMount_.reset();
    scheduler_.reset();
}

ProgramRun& Hub::start(const std::string& path) {
    runs_.push_back(std::make_unique<ProgramRun>(std::vector<std::string>{path}));
    return *runs_.back();
}

ProgramRun& Hub::start(const std::function<void()>& body) {
    runs_.push_back(std::make_unique<ProgramRun>(body));
    return *runs_.back();
}

GpioFs& Hub::gpio() {
    if (!gpio_) {
        throw std::logic_error("this hub has no GPIO directory");
    }
    return *gpio_;
}

const GpioFs& Hub::gpio() const {
    if (!gpio_) {
        throw std::logic_error("this hub has no GPIO directory");
    }
    return *gpio_;
}

LedState Hub::leds() const {
    return gpio_ ? ledState(*gpio_) : LedState{};
}

std::vector<LedChange> Hub::ledHistory() const {
    if (!gpio_) {
        return {};
    }
    return bw_sim::ledHistory(gpio_->timeline(), initialLeds(scenario_.gpio_));
}

std::vector<LedChange> Hub::ledValueWrites() const {
    if (!gpio_) {
        return {};
    }
    return bw_sim::ledValueWrites(gpio_->timeline(), initialLeds(scenario_.gpio_));
}

std::vector<CommandRecord> Hub::commands() const {
    std::vector<CommandRecord> records = command_log::parse(readWhole(kCommandLogPath));
    const auto origin =
        std::chrono::duration_cast<std::chrono::microseconds>(origin_.time_since_epoch());
    for (CommandRecord& record : records) {
        record.started -= origin;
        if (record.finished) {
            record.ended -= origin;
        }
    }
    return records;
}

std::vector<std::string> Hub::commandLines() const {
    std::vector<std::string> lines;
    for (const CommandRecord& record : commands()) {
        lines.push_back(record.line);
    }
    return lines;
}

std::vector<I2cWrite> Hub::i2cWrites() const {
    return i2c_ ? i2c_->writes() : std::vector<I2cWrite>{};
}

std::vector<FileChange> Hub::fileChanges() const {
    return compareSnapshots(initialFiles_, takeSnapshot(watchedDirectories()));
}

std::vector<std::string> Hub::problems() const {
    return scheduler_->failures();
}

void Hub::at(std::chrono::milliseconds delay, std::function<void()> action) {
    scheduler_->at(origin_ + delay, std::move(action));
}

const std::vector<std::string>& watchedDirectories() {
    static const std::vector<std::string> directories = {
        kStateDirectory,  kModelDirectory, kHookDirectory,  kServiceDirectory,
        kDeviceDirectory, "/dev/rtc0",     "/sys/class/rtc"};
    return directories;
}

const std::string& hubUnavailableReason() {
    static const std::string reason = [] {
        if (!sandboxUnavailableReason().empty()) {
            return sandboxUnavailableReason();
        }
        if (!fuseUnavailableReason().empty()) {
            return fuseUnavailableReason();
        }
        if (::access(BW_FAKE_PATH, X_OK) != 0) {
            return std::string("the fake programs are not built: ") + BW_FAKE_PATH;
        }
        return std::string();
    }();
    return reason;
}

void runInHub(const Scenario& scenario, const std::function<void(Hub&)>& body,
              std::chrono::milliseconds limit) {
    runInSandbox(
        [&] {
            Hub hub(scenario);
            body(hub);
        },
        limit);
}

}  // namespace bw_sim
