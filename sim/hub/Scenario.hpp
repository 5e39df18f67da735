// One readable description of a simulated hub: its files, sysfs, devices and the outcome
// of every outside program. Scenario() is a prism-1v1-eu hub on its first boot on which
// everything works; each call changes one thing:
//
//   Scenario()
//       .model("crate-1v0-b-eu")
//       .rtc(RtcClock::unregistered())
//       .rtcRegistration(RtcRegistration::appearsAfter(milliseconds(200)))
//       .command("bw-drop bw-selftest factory-tool", Outcome::failsTimes(1))
//       .zwave(DeviceEntry::after(milliseconds(300)));
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fakes/FakeRules.hpp"
#include "fakes/Outcome.hpp"
#include "hub/GpioFs.hpp"
#include "uart/Module.hpp"

namespace bw_sim {

// A marker, down-file or similar entry at the start: missing, a file, or a directory (which
// exists but cannot be read or unlinked as a file).
enum class Entry { absent, file, directory };

// A device entry under /dev/brambleway: there at the start, never there, or made a while
// after the hub starts.
class DeviceEntry {
  public:
    static DeviceEntry present() { return DeviceEntry(true, {}); }
    static DeviceEntry absent() { return DeviceEntry(false, {}); }
    static DeviceEntry after(std::chrono::milliseconds delay) { return DeviceEntry(false, delay); }

    bool presentAtStart() const { return present_; }
    bool appearsLater() const { return delay_.count() > 0; }
    std::chrono::milliseconds delay() const { return delay_; }

  private:
    DeviceEntry(bool present, std::chrono::milliseconds delay) : present_(present), delay_(delay) {}
    bool present_;
    std::chrono::milliseconds delay_;
};

// The RTC as the kernel shows it under /sys/class/rtc/rtc0.
class RtcClock {
  public:
    enum class State { unregistered, invalid, valid };

    // The kernel does not know the chip: no rtc0, no /dev/rtc0.
    static RtcClock unregistered() { return RtcClock(State::unregistered, ""); }
    // Registered, but holding no valid time: since_epoch cannot be read (until hwclock -w).
    static RtcClock invalid() { return RtcClock(State::invalid, ""); }
    // Registered and running; since_epoch holds `sinceEpoch` exactly.
    static RtcClock valid(std::string sinceEpoch) {
        return RtcClock(State::valid, std::move(sinceEpoch));
    }

    State state() const { return state_; }
    const std::string& sinceEpoch() const { return sinceEpoch_; }

  private:
    RtcClock(State state, std::string sinceEpoch)
        : state_(state), sinceEpoch_(std::move(sinceEpoch)) {}
    State state_;
    std::string sinceEpoch_;
};

// What writing "pcf8523 0x68" to the adapter's new_device leads to.
class RtcRegistration {
  public:
    // Accepted; rtc0 and /dev/rtc0 appear `delay` later, with `clock` (a new chip holds no
    // valid time).
    static RtcRegistration appearsAfter(std::chrono::milliseconds delay,
                                        RtcClock clock = RtcClock::invalid()) {
        return RtcRegistration(0, true, delay, std::move(clock));
    }
    // Accepted, but no chip answers: nothing appears.
    static RtcRegistration noDevice() {
        return RtcRegistration(0, false, {}, RtcClock::unregistered());
    }
    // The write fails with `error`.
    static RtcRegistration refused(int error) {
        return RtcRegistration(error, false, {}, RtcClock::unregistered());
    }

    int refusal() const { return refusal_; }
    bool appears() const { return appears_; }
    std::chrono::milliseconds delay() const { return delay_; }
    const RtcClock& clock() const { return clock_; }

  private:
    RtcRegistration(int refusal, bool appears, std::chrono::milliseconds delay, RtcClock clock)
        : refusal_(refusal), appears_(appears), delay_(delay), clock_(std::move(clock)) {}
    int refusal_;
    bool appears_;
    std::chrono::milliseconds delay_;
    RtcClock clock_;
};

// A site hook under /usr/local/share/bw-selftest.
class Hook {
  public:
    static Hook absent() { return Hook(Kind::absent, Outcome::succeeds(), "", 0); }
    // An executable that runs as a fake program (logged, with `outcome`).
    static Hook runs(const Outcome& outcome) { return Hook(Kind::fake, outcome, "", 0755); }
    // A file with exactly this content and mode, e.g. a script that is not executable.
    static Hook file(std::string content, mode_t mode) {
        return Hook(Kind::file, Outcome::succeeds(), std::move(content), mode);
    }

    enum class Kind { absent, fake, file };
    Kind kind() const { return kind_; }
    const Outcome& outcome() const { return outcome_; }
    const std::string& content() const { return content_; }
    mode_t mode() const { return mode_; }

  private:
    Hook(Kind kind, Outcome outcome, std::string content, mode_t mode)
        : kind_(kind), outcome_(std::move(outcome)), content_(std::move(content)), mode_(mode) {}
    Kind kind_;
    Outcome outcome_;
    std::string content_;
    mode_t mode_;
};

class Hub;

// More simulated hardware that lives as long as the hub, such as the UART and its radio
// module: made after the hub's files are in place (so it can bind its device at
// /dev/ttyAMA0), destroyed, threads joined, before they are torn down.
class HubDevice {
  public:
    virtual ~HubDevice() = default;
};
using HubDeviceFactory = std::function<std::unique_ptr<HubDevice>(Hub&)>;

class Scenario {
  public:
    // A prism-1v1-eu hub on its first boot on which every test and step passes.
    Scenario();

    // --- Files
    Scenario& model(const std::string& id);           // the model file holds `id` and a line feed
    Scenario& modelFile(const std::string& content);  // exactly this content
    Scenario& noModelFile();
    Scenario& firstBootMarker(Entry entry);
    Scenario& firstBoot(bool marker) {
        return firstBootMarker(marker ? Entry::file : Entry::absent);
    }
    Scenario& keepSsh(bool marker);
    Scenario& preHook(const Hook& hook);
    Scenario& postHook(const Hook& hook);
    // The down-files of the five daemontools services (all of them, or one).
    Scenario& downFiles(Entry entry);
    Scenario& downFile(const std::string& service, Entry entry);
    Scenario& hubDirectory(bool present);  // /var/lib/brambleway/hub
    Scenario& identityFiles(bool present);
    Scenario& certificate(bool present);
    Scenario& registrationKey(bool present);

    // --- sysfs
    Scenario& gpio(const GpioOptions& options);
    Scenario& noGpio();
    Scenario& directionDeniedAfterExport(std::chrono::milliseconds window);
    Scenario& exportFails(unsigned gpio, int error);
    Scenario& valueWriteFails(unsigned gpio, int error);
    // Any open, read or write of a line's direction, value or edge file.
    Scenario& gpioFault(const GpioFault& fault);
    Scenario& exported(unsigned gpio, bool output, int value);
    Scenario& rtc(const RtcClock& clock);
    Scenario& rtcRegistration(const RtcRegistration& registration);
    Scenario& noI2cAdapter();
    Scenario& interface(const std::string& name, const std::string& addressFileContent);
    Scenario& noInterface(const std::string& name);

    // --- /dev
    Scenario& deviceDirectory(const DeviceEntry& entry);  // /dev/brambleway
    Scenario& zwave(const DeviceEntry& entry);
    Scenario& zigbee(const DeviceEntry& entry);

    // --- Outside programs
    // Every run of `program` (named without its directory, e.g. "svc", "bw-drop").
    Scenario& program(const std::string& program, const Outcome& outcome);
    // Runs with exactly this command line, as the program passes it to the shell.
    Scenario& command(const std::string& commandLine, const Outcome& outcome);
    // Not installed at all: the shell answers "not found" (status 127).
    Scenario& missingProgram(const std::string& program);

    // --- The EnOcean module on its UART (by default at /dev/ttyAMA0, answering everything
    // with RET_OK); see uart/Module.hpp for its faults. Reached with hub.device<EnOceanModule>().
    Scenario& enoceanModule(const uart::Scenario& module);
    Scenario& noEnOceanModule();

    // --- More hardware (see HubDevice)
    Scenario& device(HubDeviceFactory factory);

    // Every choice of the scenario, one "item: value" line each, in a fixed order: two
    // scenarios that lay out the same hub read the same.
    std::string describe() const;

  private:
    friend class Hub;

    enum class ModelFile { line, raw, absent };

    ModelFile modelFileKind_ = ModelFile::line;
    std::string model_;
    Entry firstBootMarker_ = Entry::file;
    bool keepSsh_ = false;
    Hook preHook_ = Hook::absent();
    Hook postHook_ = Hook::absent();
    std::map<std::string, Entry> downFiles_;
    bool hubDirectory_ = true;
    bool identityFiles_ = false;
    bool certificate_ = false;
    bool registrationKey_ = true;

    bool gpioPresent_ = true;
    GpioOptions gpio_;
    RtcClock rtc_ = RtcClock::valid("1551441600\n");
    RtcRegistration rtcRegistration_ =
        RtcRegistration::appearsAfter(std::chrono::milliseconds(100));
    bool i2cAdapter_ = true;
    std::map<std::string, std::string> interfaces_;

    DeviceEntry deviceDirectory_ = DeviceEntry::present();
    DeviceEntry zwave_ = DeviceEntry::present();
    DeviceEntry zigbee_ = DeviceEntry::present();

    FakeRules rules_;
    std::set<std::string> missingPrograms_;

    std::optional<uart::Scenario> enoceanModule_ = uart::Scenario();
    std::vector<HubDeviceFactory> devices_;
};

}  // namespace bw_sim
