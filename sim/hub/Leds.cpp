// Reading the LEDs off the GPIO lines and their write timeline.
#include "hub/Leds.hpp"

#include "hub/SysfsText.hpp"
#include "lib/prism/led_patterns.hpp"

namespace bw_sim {

namespace {

const char* word(int level) {
    return level < 0 ? "-" : level != 0 ? "on" : "off";
}

int* ledOf(LedState& state, unsigned gpio) {
    if (gpio == kLedGpios[0]) {
        return &state.first;
    }
    if (gpio == kLedGpios[1]) {
        return &state.second;
    }
    return gpio == kLedGpios[2] ? &state.third : nullptr;
}

int levelOf(const GpioLine& line) {
    return line.exported && line.direction == "out" ? line.value : -1;
}

// The line a timeline entry is about, and whether it is one of the LEDs.
bool ledLine(const GpioWrite& write, unsigned& gpio, std::string& file) {
    if (write.file == "export" || write.file == "unexport") {
        long number = 0;
        if (!parseKernelLong(write.data, number) || number < 0) {
            return false;
        }
        gpio = static_cast<unsigned>(number);
        file = write.file;
    } else {
        const std::size_t slash = write.file.find('/');
        if (write.file.compare(0, 4, "gpio") != 0 || slash == std::string::npos) {
            return false;
        }
        gpio = static_cast<unsigned>(std::stoul(write.file.substr(4, slash - 4)));
        file = write.file.substr(slash + 1);
    }
    LedState probe;
    return ledOf(probe, gpio) != nullptr;
}

}  // namespace

std::string LedState::text() const {
    return std::string(word(first)) + " " + word(second) + " " + word(third);
}

LedState lit(bool first, bool second, bool third) {
    return {first ? 1 : 0, second ? 1 : 0, third ? 1 : 0};
}

LedState ledState(const GpioFs& gpio) {
    return {levelOf(gpio.line(kLedGpios[0])), levelOf(gpio.line(kLedGpios[1])),
            levelOf(gpio.line(kLedGpios[2]))};
}

namespace {

// Replays the timeline from `initial`; `keep` picks the writes to report, given the line's
// file and whether the write changed an LED.
template <class Keep>
std::vector<LedChange> replay(const std::vector<GpioWrite>& timeline, const LedState& initial,
                              Keep keep) {
    std::vector<LedChange> history;
    LedState state = initial;
    for (const GpioWrite& write : timeline) {
        unsigned gpio = 0;
        std::string file;
        if (write.error != 0 || !ledLine(write, gpio, file)) {
            continue;
        }
        int& led = *ledOf(state, gpio);
        const int before = led;
        if (file == "export" || file == "unexport") {
            led = -1;
        } else if (file == "direction") {
            led = sysfsEquals(write.data, "in") ? -1 : sysfsEquals(write.data, "high") ? 1 : 0;
        } else if (file == "value") {
            long value = 0;
            led = parseKernelLong(write.data, value) && value != 0 ? 1 : 0;
        }
        if (keep(file, led != before)) {
            history.push_back({write.at, state});
        }
    }
    return history;
}

}  // namespace

std::vector<LedChange> ledHistory(const std::vector<GpioWrite>& timeline, const LedState& initial) {
    return replay(timeline, initial, [](const std::string&, bool changed) { return changed; });
}

std::vector<LedChange> ledValueWrites(const std::vector<GpioWrite>& timeline,
                                      const LedState& initial) {
    return replay(timeline, initial, [](const std::string& file, bool) { return file == "value"; });
}

std::string ledMeaning(const LedState& state) {
    for (const bw_selftest::LedPattern& pattern : bw_selftest::kLedPatterns) {
        if (state == lit(pattern.first, pattern.second, pattern.third)) {
            return pattern.meaning;
        }
    }
    return "";
}

}  // namespace bw_sim
