// Rendering the hub's state as text.
#include "hub/Summary.hpp"

#include <cstdio>

#include "hub/Hub.hpp"

namespace bw_sim {

namespace {

std::string milliseconds(std::chrono::microseconds at) {
    char text[32];
    std::snprintf(text, sizeof text, "%9.1f ms  ", static_cast<double>(at.count()) / 1000.0);
    return text;
}

std::string visible(const std::string& data) {
    std::string out;
    for (const char c : data) {
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

std::string statusText(const CommandRecord& record) {
    if (!record.finished) {
        return "did not finish";
    }
    if (record.status < 0) {
        return "killed by signal " + std::to_string(-record.status);
    }
    return "exit " + std::to_string(record.status);
}

}  // namespace

std::string summarize(const Hub& hub) {
    std::string text = "LEDs at the end (GPIO 11, 12, 13): " + hub.leds().text() + "\n";
    const auto history = hub.ledHistory();
    text += "LED timeline:" + std::string(history.empty() ? " none\n" : "\n");
    for (const LedChange& change : history) {
        text += milliseconds(change.at) + change.state.text() + "\n";
    }
    const auto commands = hub.commands();
    text += "Commands run:" + std::string(commands.empty() ? " none\n" : "\n");
    for (const CommandRecord& record : commands) {
        text += milliseconds(record.started) + record.line + "  (" + statusText(record) + ")\n";
    }
    const auto i2c = hub.i2cWrites();
    if (!i2c.empty()) {
        text += "I2C writes:\n";
        for (const I2cWrite& write : i2c) {
            text += milliseconds(write.at) + write.file + " <- \"" + visible(write.data) + "\"" +
                    (write.error != 0 ? " refused: errno " + std::to_string(write.error) : "") +
                    "\n";
        }
    }
    const auto changes = hub.fileChanges();
    text += "Files changed:" + std::string(changes.empty() ? " none\n" : "\n");
    for (const FileChange& change : changes) {
        text += "  " + change.path + ": " + change.what + "\n";
    }
    for (const std::string& problem : hub.problems()) {
        text += "Simulator problem: " + problem + "\n";
    }
    return text;
}

}  // namespace bw_sim
