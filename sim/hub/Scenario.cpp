// The builder of the simulated hub's description.
#include "hub/Scenario.hpp"

#include "hub/HubPaths.hpp"

namespace bw_sim {

Scenario::Scenario() : model_("prism-1v1-eu") {
    for (const char* service : kDaemontoolsServices) {
        downFiles_[service] = Entry::file;
    }
    interfaces_["eth0"] = "b8:27:eb:3c:4f:01\n";
    interfaces_["wlan0"] = "b8:27:eb:3c:4f:02\n";
}

Scenario& Scenario::model(const std::string& id) {
    modelFileKind_ = ModelFile::line;
    model_ = id;
    return *this;
}

Scenario& Scenario::modelFile(const std::string& content) {
    modelFileKind_ = ModelFile::raw;
    model_ = content;
    return *this;
}

Scenario& Scenario::noModelFile() {
    modelFileKind_ = ModelFile::absent;
    return *this;
}

Scenario& Scenario::firstBootMarker(Entry entry) {
    firstBootMarker_ = entry;
    return *this;
}

Scenario& Scenario::keepSsh(bool marker) {
    keepSsh_ = marker;
    return *this;
}

Scenario& Scenario::preHook(const Hook& hook) {
    preHook_ = hook;
    return *this;
}

Scenario& Scenario::postHook(const Hook& hook) {
    postHook_ = hook;
    return *this;
}

Scenario& Scenario::downFiles(Entry entry) {
    for (auto& service : downFiles_) {
        service.second = entry;
    }
    return *this;
}

Scenario& Scenario::downFile(const std::string& service, Entry entry) {
    downFiles_[service] = entry;
    return *this;
}

Scenario& Scenario::hubDirectory(bool present) {
    hubDirectory_ = present;
    return *this;
}

Scenario& Scenario::identityFiles(bool present) {
    identityFiles_ = present;
    return *this;
}

Scenario& Scenario::certificate(bool present) {
    certificate_ = present;
    return *this;
}

Scenario& Scenario::registrationKey(bool present) {
    registrationKey_ = present;
    return *this;
}

Scenario& Scenario::gpio(const GpioOptions& options) {
    gpioPresent_ = true;
    gpio_ = options;
    return *this;
}

Scenario& Scenario::noGpio() {
    gpioPresent_ = false;
    return *this;
}

Scenario& Scenario::directionDeniedAfterExport(std::chrono::milliseconds window) {
    gpio_.directionDeniedAfterExport = window;
    return *this;
}

Scenario& Scenario::exportFails(unsigned gpio, int error) {
    gpio_.exportErrors[gpio] = error;
    return *this;
}

Scenario& Scenario::valueWriteFails(unsigned gpio, int error) {
    return gpioFault({gpio, "value", GpioFault::Operation::write, error});
}

Scenario& Scenario::gpioFault(const GpioFault& fault) {
    gpio_.faults.push_back(fault);
    return *this;
}

Scenario& Scenario::exported(unsigned gpio, bool output, int value) {
    gpio_.exported[gpio] = {output, value};
    return *this;
}

Scenario& Scenario::rtc(const RtcClock& clock) {
    rtc_ = clock;
    return *this;
}

Scenario& Scenario::rtcRegistration(const RtcRegistration& registration) {
    rtcRegistration_ = registration;
    return *this;
}

Scenario& Scenario::noI2cAdapter() {
    i2cAdapter_ = false;
    return *this;
}

Scenario& Scenario::interface(const std::string& name, const std::string& addressFileContent) {
    interfaces_[name] = addressFileContent;
    return *this;
}

Scenario& Scenario::noInterface(const std::string& name) {
    interfaces_.erase(name);
    return *this;
}

Scenario& Scenario::deviceDirectory(const DeviceEntry& entry) {
    deviceDirectory_ = entry;
    return *this;
}

Scenario& Scenario::zwave(const DeviceEntry& entry) {
    zwave_ = entry;
    return *this;
}

Scenario& Scenario::zigbee(const DeviceEntry& entry) {
    zigbee_ = entry;
    return *this;
}

Scenario& Scenario::program(const std::string& name, const Outcome& outcome) {
    rules_.set(name, "", outcome);
    missingPrograms_.erase(name);
    return *this;
}

Scenario& Scenario::command(const std::string& commandLine, const Outcome& outcome) {
    rules_.set(programOf(commandLine), commandLine, outcome);
    return *this;
}

Scenario& Scenario::missingProgram(const std::string& name) {
    missingPrograms_.insert(name);
    return *this;
}

Scenario& Scenario::enoceanModule(const uart::Scenario& module) {
    enoceanModule_ = module;
    return *this;
}

Scenario& Scenario::noEnOceanModule() {
    enoceanModule_.reset();
    return *this;
}

Scenario& Scenario::device(HubDeviceFactory factory) {
    devices_.push_back(std::move(factory));
    return *this;
}

}  // namespace bw_sim
