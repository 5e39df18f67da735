// Laying a scenario out: the fake sysfs, /dev, the hub's files and the fake programs.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "fakes/Paths.hpp"
#include "hub/FileMaking.hpp"
#include "hub/FuseMount.hpp"
#include "hub/Hub.hpp"
#include "hub/HubPaths.hpp"
#include "hub/Scheduler.hpp"

namespace bw_sim {

namespace {

constexpr unsigned kRtcAddress = 0x68;
constexpr const char* kRtcChip = "pcf8523";
// Where a shell without environment looks for a command, in its order.
constexpr const char* kSearchPath[] = {"/usr/local/sbin", "/usr/local/bin", "/usr/sbin",
                                       "/usr/bin",        "/sbin",          "/bin"};

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// /bin is a link to /usr/bin on current Debian: the fake must land in the real directory.
std::string realDirectory(const std::string& directory) {
    char resolved[PATH_MAX];
    if (::realpath(directory.c_str(), resolved) == nullptr) {
        return {};
    }
    return resolved;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The RTC as the kernel shows it once the chip is registered. A directory stands for a
// clock without a valid time: reading it fails even for root, as the driver's read does.
void makeRtc(const RtcClock& clock, bool withDevice) {
    const std::string sinceEpoch = std::string(kRtcDirectory) + "/since_epoch";
    putFile(std::string(kRtcDirectory) + "/name", "rtc-pcf8523 1-0068\n", 0444);
    if (clock.state() == RtcClock::State::valid) {
        putFile(sinceEpoch, clock.sinceEpoch(), 0444);
    } else {
        makeDirectories(sinceEpoch, 0755);
    }
    if (withDevice) {
        putFile("/dev/rtc0", "", 0600);
    }
}

void putEntry(const std::string& path, Entry entry, const std::string& content) {
    if (entry == Entry::file) {
        putFile(path, content);
    } else if (entry == Entry::directory) {
        makeDirectories(path);
    }
}

void putHook(const std::string& path, const Hook& hook) {
    if (hook.kind() == Hook::Kind::fake) {
        putSymlink(BW_FAKE_PATH, path);
    } else if (hook.kind() == Hook::Kind::file) {
        putFile(path, hook.content(), hook.mode());
    }
}

// Radio entries are links, as udev makes them.
void putRadio(const std::string& path) {
    makeDirectories(kDeviceDirectory);
    if (!exists(path)) {
        putSymlink("../null", path);
    }
}

// The hub has the self-test account that the factory step gives files to.
void addSelftestAccount() {
    const auto appendLine = [](const std::string& path, const std::string& line) {
        std::ifstream in(path);
        std::stringstream content;
        content << in.rdbuf();
        std::string text = content.str();
        if (text.find("\n" + std::string(kSelftestAccount) + ":") != std::string::npos ||
            text.rfind(std::string(kSelftestAccount) + ":", 0) == 0) {
            return;
        }
        if (!text.empty() && text.back() != '\n') {
            text += '\n';
        }
        sandbox::writeFile(path, text + line + "\n", 0644);
    };
    const std::string id = std::to_string(kSelftestId);
    appendLine("/etc/passwd", std::string(kSelftestAccount) + ":x:" + id + ":" + id +
                                  "::/nonexistent:/usr/sbin/nologin");
    appendLine("/etc/group", std::string(kSelftestAccount) + ":x:" + id + ":");
}

}  // namespace

void Hub::layOutSysfs(const Scenario& scenario) {
    sandbox::freshDirectory(kSysClass);
    if (scenario.gpioPresent_) {
        makeDirectories(kGpioDirectory);
        gpio_ = std::make_unique<GpioFs>(scenario.gpio_, origin_);
        gpioMount_ = std::make_unique<FuseMount>(kGpioDirectory, "bw-sim-gpio", *gpio_);
    }
    const bool registered = scenario.rtc_.state() != RtcClock::State::unregistered;
    if (scenario.i2cAdapter_) {
        makeDirectories(kI2cAdapter);
        i2c_ = std::make_unique<I2cAdapterFs>(
            origin_, scenario.rtcRegistration_.refusal(),
            [this](const std::string& name, unsigned address) { onI2cRegistered(name, address); });
        if (registered) {
            i2c_->addDevice(kRtcChip, kRtcAddress);
        }
        i2cMount_ = std::make_unique<FuseMount>(kI2cAdapter, "bw-sim-i2c", *i2c_);
    }
    makeDirectories("/sys/class/rtc");
    if (registered) {
        makeRtc(scenario.rtc_, false);
    }
    putFile(std::string(kNetDirectory) + "/lo/address", "00:00:00:00:00:00\n", 0444);
    for (const auto& [name, address] : scenario.interfaces_) {
        putFile(std::string(kNetDirectory) + "/" + name + "/address", address, 0444);
    }
}

void Hub::onI2cRegistered(const std::string& name, unsigned address) {
    const RtcRegistration& registration = scenario_.rtcRegistration_;
    if (name != kRtcChip || address != kRtcAddress || !registration.appears()) {
        return;
    }
    const RtcClock clock = registration.clock();
    scheduler_->at(Clock::now() + registration.delay(), [clock] { makeRtc(clock, true); });
}

void Hub::layOutDev(const Scenario& scenario) {
    sandbox::freshDev();
    if (scenario.rtc_.state() != RtcClock::State::unregistered) {
        putFile("/dev/rtc0", "", 0600);
    }
    const DeviceEntry& directory = scenario.deviceDirectory_;
    const std::pair<const DeviceEntry*, const char*> radios[] = {
        {&scenario.zwave_, kZwaveDevice}, {&scenario.zigbee_, kZigbeeDevice}};
    if (directory.presentAtStart()) {
        makeDirectories(kDeviceDirectory);
    }
    for (const auto& [entry, path] : radios) {
        const std::string where = path;
        if (entry->presentAtStart() && directory.presentAtStart()) {
            putRadio(where);
        } else if (entry->appearsLater()) {
            scheduler_->at(origin_ + entry->delay(), [where] { putRadio(where); });
        }
    }
    if (directory.appearsLater()) {
        std::vector<std::string> present;
        for (const auto& [entry, path] : radios) {
            if (entry->presentAtStart()) {
                present.emplace_back(path);
            }
        }
        scheduler_->at(origin_ + directory.delay(), [present] {
            makeDirectories(kDeviceDirectory);
            for (const std::string& path : present) {
                putRadio(path);
            }
        });
    }
}

void Hub::layOutFiles(const Scenario& scenario) {
    sandbox::freshDirectory(kModelDirectory);
    if (scenario.modelFileKind_ == Scenario::ModelFile::line) {
        putFile(kModelFile, scenario.model_ + "\n");
    } else if (scenario.modelFileKind_ == Scenario::ModelFile::raw) {
        putFile(kModelFile, scenario.model_);
    }
    if (scenario.registrationKey_) {
        putFile(kRegistrationKey, "registration key of this hub\n", 0600);
    }

    sandbox::freshDirectory(kHookDirectory);
    putHook(kPreHook, scenario.preHook_);
    putHook(kPostHook, scenario.postHook_);

    sandbox::freshDirectory(kStateDirectory);
    putEntry(kFirstBootMarker, scenario.firstBootMarker_, "");
    putEntry(kKeepSshMarker, scenario.keepSsh_ ? Entry::file : Entry::absent, "");
    makeDirectories(kSelftestDirectory);
    makeDirectories(directoryOf(kCertificate));
    if (scenario.hubDirectory_) {
        makeDirectories(kHubDirectory);
        if (scenario.identityFiles_) {
            putFile(kHubId, "hub identity\n");
            putFile(kHubIdSignature, "hub identity signature\n");
        }
    }
    if (scenario.certificate_) {
        putFile(kCertificate, "-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----\n");
    }

    sandbox::freshDirectory(kServiceDirectory);
    for (const auto& [service, entry] : scenario.downFiles_) {
        const std::string directory = std::string(kServiceDirectory) + "/" + service;
        makeDirectories(directory);
        putEntry(directory + "/down", entry, "");
    }
    addSelftestAccount();
}

void Hub::installFakes(const Scenario& scenario) {
    makeDirectories(kHubStateDirectory, 0777);
    ::chmod(kHubStateDirectory, 0777);
    FakeRules rules = scenario.rules_;
    if (scenario.preHook_.kind() == Hook::Kind::fake) {
        rules.set(baseName(kPreHook), "", scenario.preHook_.outcome());
    }
    if (scenario.postHook_.kind() == Hook::Kind::fake) {
        rules.set(baseName(kPostHook), "", scenario.postHook_.outcome());
    }
    putFile(kFakeRulesPath, rules.serialize(), 0644);
    putFile(kCommandLogPath, "", 0666);

    for (const char* path : kFakePrograms) {
        const std::string name = baseName(path);
        const std::string directory = realDirectory(directoryOf(path));
        if (directory.empty() || scenario.missingPrograms_.count(name) != 0) {
            continue;
        }
        sandbox::makeDirectory(directory);
        const std::string target = directory + "/" + name;
        if (::unlink(target.c_str()) != 0 && errno != ENOENT) {
            throw std::runtime_error("unlink " + target + ": " + std::strerror(errno));
        }
        putSymlink(BW_FAKE_PATH, target);
    }
    // Nothing earlier on the search path may stand in front of a fake, and a missing
    // program must be missing everywhere.
    for (const char* searched : kSearchPath) {
        const std::string directory = realDirectory(searched);
        if (directory.empty()) {
            continue;
        }
        for (const char* path : kFakePrograms) {
            const std::string name = baseName(path);
            const std::string candidate = directory + "/" + name;
            const bool missing = scenario.missingPrograms_.count(name) != 0;
            const bool front = directory.rfind("/usr/local/", 0) == 0;
            if ((missing || front) && exists(candidate)) {
                sandbox::removePath(candidate);
            }
        }
    }
}

}  // namespace bw_sim
