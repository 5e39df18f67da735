// Rendering a run of the program: live lines, the summary, the transcript.
#include "tools/LiveView.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <regex>

namespace bw_sim::tool {

namespace {

// A line the program leaves unfinished for this long is shown without waiting for its end
// (the program announces a long wait that way).
constexpr Micros kPartialPatience{std::chrono::milliseconds(200)};

constexpr const char* kDim = "2";
constexpr const char* kRed = "31";
constexpr const char* kGreen = "32";
constexpr const char* kYellow = "1;33";
constexpr const char* kBlue = "34";
constexpr const char* kCyan = "36";

std::string seconds(Micros at, int decimals = 3) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(at.count()) / 1e6);
    return text;
}

std::string statusText(bool finished, int status) {
    if (!finished) {
        return "running";
    }
    return status < 0 ? "signal " + std::to_string(-status) : "exit " + std::to_string(status);
}

const char* meaningColor(const std::string& meaning) {
    return meaning == "failed" ? kRed : meaning == "testing" ? kCyan : kGreen;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

bool banner(const std::string& line, std::string& name) {
    const std::size_t first = line.find_first_not_of('=');
    const std::size_t last = line.find_last_not_of('=');
    if (line.size() != 80 || first == 0 || first == std::string::npos || last == 79) {
        return false;
    }
    name = line.substr(first, last - first + 1);
    if (name.size() >= 2 && name.front() == ' ' && name.back() == ' ') {
        name = name.substr(1, name.size() - 2);
    }
    return true;
}

}  // namespace

std::string ledSymbols(const LedState& state) {
    std::string text;
    for (const int led : {state.first, state.second, state.third}) {
        text += (text.empty() ? "" : " ") + std::string(led < 0 ? "-" : led != 0 ? "●" : "○");
    }
    return text;
}

std::string LiveView::paint(const char* code, const std::string& text) const {
    return color_ ? std::string("\033[") + code + "m" + text + "\033[0m" : text;
}

void LiveView::line(Micros at, const std::string& mark, const char* color,
                    const std::string& text) {
    // Output is stamped when it was collected, a moment late: the lines keep their order,
    // and their times follow it.
    lastAt_ = std::max(lastAt_, at);
    char time[32];
    std::snprintf(time, sizeof time, "%9ss", seconds(lastAt_).c_str());
    out_ << paint(kDim, time) << "  " << (color != nullptr ? paint(color, mark) : mark);
    if (!text.empty()) {
        out_ << std::string(6 - mark.size(), ' ') << text;
    }
    out_ << "\n" << std::flush;
}

void LiveView::flushPartial(bool error) {
    std::string& partial = partial_[error ? 1 : 0];
    if (partial.empty()) {
        return;
    }
    bool& continued = continued_[error ? 1 : 0];
    line(partialSince_[error ? 1 : 0], error ? "err" : "out", error ? kRed : kGreen,
         (continued ? "…" : "") + partial + "…");
    continued = true;
    partial.clear();
}

void LiveView::output(const Event& event) {
    const bool error = event.kind == Event::Kind::err;
    const int index = error ? 1 : 0;
    flushPartial(!error);
    std::string& partial = partial_[index];
    if (partial.empty()) {
        partialSince_[index] = event.at;
    }
    partial += event.text;
    std::size_t end = 0;
    while ((end = partial.find('\n')) != std::string::npos) {
        line(partialSince_[index], error ? "err" : "out", error ? kRed : kGreen,
             (continued_[index] ? "…" : "") + partial.substr(0, end));
        continued_[index] = false;
        partial.erase(0, end + 1);
        partialSince_[index] = event.at;
    }
}

void LiveView::show(std::vector<Event> events, Micros now) {
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Event& event = events[i];
        const Event* next = i + 1 < events.size() ? &events[i + 1] : nullptr;
        if (event.kind == Event::Kind::out || event.kind == Event::Kind::err) {
            output(event);
            continue;
        }
        flushPartial(false);
        flushPartial(true);
        if (event.kind == Event::Kind::leds) {
            // The three writes of one pattern make one line.
            if (next != nullptr && next->kind == Event::Kind::leds) {
                continue;
            }
            std::string symbols;
            for (const int led : {event.leds.first, event.leds.second, event.leds.third}) {
                symbols += (symbols.empty() ? "" : " ") + (led > 0    ? paint(kYellow, "●")
                                                           : led == 0 ? paint(kDim, "○")
                                                                      : "-");
            }
            const std::string meaning = ledMeaning(event.leds);
            line(event.at, "LEDs", nullptr,
                 symbols + (meaning.empty() ? "" : "  " + paint(meaningColor(meaning), meaning)));
        } else if (event.kind == Event::Kind::started) {
            if (next != nullptr && next->kind == Event::Kind::ended &&
                next->command == event.command) {
                const std::string status = statusText(true, next->status);
                line(event.at, "cmd", kBlue,
                     event.text + "  → " + paint(next->status == 0 ? kGreen : kRed, status));
                ++i;
            } else {
                line(event.at, "cmd", kBlue, event.text + "  → started");
            }
        } else {
            const std::string status = statusText(true, event.status);
            line(event.at, "cmd", kBlue,
                 event.text + "  → " + paint(event.status == 0 ? kGreen : kRed, status) +
                     " after " + seconds(event.took, 1) + " s");
        }
    }
    for (const bool error : {false, true}) {
        const int index = error ? 1 : 0;
        if (!partial_[index].empty() && now - partialSince_[index] >= kPartialPatience) {
            flushPartial(error);
        }
    }
}

void LiveView::finish() {
    flushPartial(false);
    flushPartial(true);
}

std::vector<Verdict> verdictsOf(const std::string& out, std::string& summaryLine) {
    static const std::regex failedLine("[0-9]+ tests? failed\\.");
    std::vector<Verdict> verdicts;
    summaryLine.clear();
    std::string name;
    for (const std::string& line : linesOf(out)) {
        if (banner(line, name)) {
            verdicts.push_back({name, ""});
        } else if ((line == "PASS" || line == "FAIL") && !verdicts.empty() &&
                   verdicts.back().verdict.empty()) {
            verdicts.back().verdict = line;
        } else if (line == "All tests passed." || std::regex_match(line, failedLine)) {
            summaryLine = line;
        }
    }
    return verdicts;
}

std::string summaryText(const RunRecord& run, bool color) {
    const auto paint = [color](const char* code, const std::string& text) {
        return color ? std::string("\033[") + code + "m" + text + "\033[0m" : text;
    };
    const std::string indent(11, ' ');
    std::string summaryLine;
    const std::vector<Verdict> verdicts = verdictsOf(run.out, summaryLine);
    std::string text =
        "--- summary ---\ntests      " + std::string(verdicts.empty() ? "none\n" : "");
    for (std::size_t i = 0; i < verdicts.size(); ++i) {
        const std::string& verdict = verdicts[i].verdict;
        text +=
            (i == 0 ? "" : indent) + verdicts[i].test + ": " +
            (verdict.empty() ? "no verdict" : paint(verdict == "PASS" ? kGreen : kRed, verdict)) +
            "\n";
    }
    text += "report     " + (summaryLine.empty() ? "no summary line" : summaryLine) + "\n";
    const std::string meaning = ledMeaning(run.lastLeds);
    const bool none = run.lastLeds == LedState{};
    text += "LEDs       " + ledSymbols(run.lastLeds) +
            (none              ? "  none set up"
             : meaning.empty() ? ""
                               : "  " + paint(meaningColor(meaning), meaning)) +
            "\n";
    for (std::size_t i = 0; i < run.i2c.size(); ++i) {
        text += (i == 0 ? "i2c        " : indent) + run.i2c[i] + "\n";
    }
    text += "files      " + std::string(run.files.empty() ? "none changed\n" : "");
    for (std::size_t i = 0; i < run.files.size(); ++i) {
        text += (i == 0 ? "" : indent) + run.files[i].path + ": " + run.files[i].what + "\n";
    }
    text += "commands   " + std::string(run.commands.empty() ? "none\n" : "");
    for (std::size_t i = 0; i < run.commands.size(); ++i) {
        const CommandRecord& record = run.commands[i];
        const std::string status = statusText(record.finished, record.status);
        char padded[24];
        std::snprintf(padded, sizeof padded, "%-9s", status.c_str());
        text += (i == 0 ? "" : indent) +
                paint(record.finished && record.status == 0 ? kGreen : kRed, padded) + " " +
                record.line + "\n";
    }
    for (const std::string& problem : run.problems) {
        text += "simulator  " + problem + "\n";
    }
    return text;
}

std::string writeTranscript(int directoryFd, const RunRecord& run) {
    std::string commands;
    for (const CommandRecord& record : run.commands) {
        commands += seconds(record.started) + "\t" +
                    (record.finished ? seconds(record.ended) : std::string("-")) + "\t" +
                    statusText(record.finished, record.status) + "\t" + record.line + "\n";
    }
    std::string leds;
    for (const LedChange& change : run.leds) {
        leds += seconds(change.at) + "\t" + change.state.text() + "\t" + ledMeaning(change.state) +
                "\n";
    }
    std::string files;
    for (const FileChange& change : run.files) {
        files += change.path + ": " + change.what + "\n";
    }
    const std::pair<const char*, const std::string*> contents[] = {{"stdout", &run.out},
                                                                   {"stderr", &run.err},
                                                                   {"commands.txt", &commands},
                                                                   {"leds.txt", &leds},
                                                                   {"files.txt", &files}};
    for (const auto& [name, content] : contents) {
        const int fd = ::openat(directoryFd, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            return std::string(name) + ": " + std::strerror(errno);
        }
        std::size_t done = 0;
        while (done < content->size()) {
            const ssize_t n = ::write(fd, content->data() + done, content->size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                std::string error = std::string(name) + ": " + std::strerror(errno);
                ::close(fd);
                return error;
            }
            done += static_cast<std::size_t>(n);
        }
        if (::close(fd) != 0) {
            return std::string(name) + ": " + std::strerror(errno);
        }
    }
    return {};
}

}  // namespace bw_sim::tool
