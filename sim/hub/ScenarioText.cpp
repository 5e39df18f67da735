// A scenario as readable lines, for a tool's header and for comparing scenarios in tests.
#include <cstdio>
#include <sstream>

#include "hub/Scenario.hpp"

namespace bw_sim {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '"' || c == '\\') {
            out += std::string("\\") + c;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string ms(std::chrono::milliseconds delay) {
    return std::to_string(delay.count()) + " ms";
}

const char* entryText(Entry entry) {
    return entry == Entry::absent ? "absent" : entry == Entry::file ? "file" : "directory";
}

std::string deviceText(const DeviceEntry& entry) {
    if (entry.presentAtStart()) {
        return "present";
    }
    return entry.appearsLater() ? "after " + ms(entry.delay()) : "absent";
}

std::string clockText(const RtcClock& clock) {
    switch (clock.state()) {
        case RtcClock::State::unregistered:
            return "unregistered";
        case RtcClock::State::invalid:
            return "invalid";
        case RtcClock::State::valid:
            break;
    }
    return "valid " + quoted(clock.sinceEpoch());
}

std::string registrationText(const RtcRegistration& registration) {
    if (registration.refusal() != 0) {
        return "refused errno " + std::to_string(registration.refusal());
    }
    if (!registration.appears()) {
        return "no chip answers";
    }
    return "appears after " + ms(registration.delay()) + ", " + clockText(registration.clock());
}

std::string outcomeText(const Outcome& outcome) {
    std::string text = "statuses";
    for (const int status : outcome.perRun()) {
        text += " " + std::to_string(status);
    }
    if (!outcome.out().empty()) {
        text += ", prints " + quoted(outcome.out());
    }
    if (!outcome.err().empty()) {
        text += ", prints on stderr " + quoted(outcome.err());
    }
    if (outcome.duration().count() != 0) {
        text += ", takes " + ms(outcome.duration());
    }
    return text + (outcome.hasEffect() ? "" : ", without effect");
}

std::string hookText(const Hook& hook) {
    switch (hook.kind()) {
        case Hook::Kind::absent:
            return "absent";
        case Hook::Kind::fake:
            return "runs, " + outcomeText(hook.outcome());
        case Hook::Kind::file:
            break;
    }
    char mode[16];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(hook.mode()));
    return std::string("file mode ") + mode + " " + quoted(hook.content());
}

std::string bytesText(const uart::Bytes& bytes) {
    std::string text;
    char hex[4];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", byte);
        text += (text.empty() ? "" : " ") + std::string(hex);
    }
    return text.empty() ? "none" : text;
}

std::string answerText(const uart::Answer& answer) {
    std::string text = answer.silent ? "silent" : "answers";
    if (answer.returnCode) {
        text += ", return code " + std::to_string(*answer.returnCode);
    }
    if (answer.data) {
        text += ", data " + bytesText(*answer.data);
    }
    if (answer.optional) {
        text += ", optional " + bytesText(*answer.optional);
    }
    if (!answer.before.empty()) {
        text += ", first " + bytesText(answer.before);
    }
    return text + (answer.pieces > 1 ? ", in " + std::to_string(answer.pieces) + " pieces" : "");
}

std::string scriptText(const uart::Script& script) {
    std::string text;
    for (const uart::Answer& answer : script.first) {
        text += answerText(answer) + "; ";
    }
    return text + (script.first.empty() ? "" : "then ") + answerText(script.then);
}

}  // namespace

std::string Scenario::describe() const {
    std::ostringstream out;
    out << "model file: "
        << (modelFileKind_ == ModelFile::absent ? std::string("absent")
            : modelFileKind_ == ModelFile::line ? quoted(model_ + "\n")
                                                : quoted(model_))
        << "\n";
    out << "first-boot marker: " << entryText(firstBootMarker_) << "\n";
    out << "keepssh marker: " << (keepSsh_ ? "file" : "absent") << "\n";
    out << "pre-hook: " << hookText(preHook_) << "\n";
    out << "post-hook: " << hookText(postHook_) << "\n";
    for (const auto& [service, entry] : downFiles_) {
        out << "down-file " << service << ": " << entryText(entry) << "\n";
    }
    out << "hub directory: " << (hubDirectory_ ? "present" : "absent") << "\n";
    out << "identity files: " << (identityFiles_ ? "present" : "absent") << "\n";
    out << "certificate: " << (certificate_ ? "present" : "absent") << "\n";
    out << "registration key: " << (registrationKey_ ? "present" : "absent") << "\n";
    if (!gpioPresent_) {
        out << "gpio: absent\n";
    } else {
        out << "gpio: " << gpio_.lines
            << " lines, direction denied " + ms(gpio_.directionDeniedAfterExport) +
                   " after export\n";
        for (const auto& [gpio, error] : gpio_.exportErrors) {
            out << "gpio " << gpio << " export: fails errno " << error << "\n";
        }
        for (const GpioFault& fault : gpio_.faults) {
            static const char* const operations[] = {"open", "read", "write"};
            out << "gpio " << fault.gpio << " " << fault.file << " "
                << operations[static_cast<int>(fault.operation)] << ": fails errno " << fault.error
                << "\n";
        }
        for (const auto& [gpio, line] : gpio_.exported) {
            out << "gpio " << gpio << ": exported " << (line.output ? "out " : "in ") << line.value
                << "\n";
        }
    }
    out << "rtc: " << clockText(rtc_) << "\n";
    out << "rtc registration: " << registrationText(rtcRegistration_) << "\n";
    out << "i2c adapter: " << (i2cAdapter_ ? "present" : "absent") << "\n";
    for (const auto& [name, address] : interfaces_) {
        out << "interface " << name << ": " << quoted(address) << "\n";
    }
    if (interfaces_.empty()) {
        out << "interfaces: none\n";
    }
    out << "device directory: " << deviceText(deviceDirectory_) << "\n";
    out << "zwave entry: " << deviceText(zwave_) << "\n";
    out << "zigbee entry: " << deviceText(zigbee_) << "\n";
    for (const FakeRule& rule : rules_.rules()) {
        out << "command "
            << (rule.commandLine.empty() ? rule.program + " (every run)" : quoted(rule.commandLine))
            << ": " << outcomeText(rule.outcome) << "\n";
    }
    for (const std::string& program : missingPrograms_) {
        out << "program " << program << ": missing\n";
    }
    if (!enoceanModule_) {
        out << "enocean module: absent\n";
    } else {
        const uart::Scenario& module = *enoceanModule_;
        out << "enocean module: at";
        for (const std::string& path : module.paths) {
            out << " " << path;
        }
        out << ", base id " << bytesText({module.baseId.begin(), module.baseId.end()}) << ", "
            << static_cast<int>(module.remainingChanges) << " changes left\n";
        out << "enocean base-id requests: " << scriptText(module.baseIdRequests) << "\n";
        out << "enocean telegrams: " << scriptText(module.telegrams) << "\n";
    }
    if (!devices_.empty()) {
        out << "more devices: " << devices_.size() << "\n";
    }
    return out.str();
}

}  // namespace bw_sim
