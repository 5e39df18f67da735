// The live fixtures as JSON and as terminal lines.
#include "station/Live.hpp"

#include <chrono>
#include <cstdio>
#include <iostream>

#include "station/Json.hpp"
#include "station/Printable.hpp"

namespace bw_station {

namespace {

double elapsed(const FixtureView& view, double now) {
    if (view.start == 0) {
        return 0;
    }
    return std::max(0.0, (view.end != 0 ? view.end : now) - view.start);
}

std::string optionalNumber(const std::optional<std::int64_t>& value) {
    return value ? number(*value) : "null";
}

}  // namespace

bool FixtureView::operator==(const FixtureView& o) const {
    const auto sameTests = [&] {
        if (tests.size() != o.tests.size()) {
            return false;
        }
        for (std::size_t i = 0; i < tests.size(); ++i) {
            if (tests[i].name != o.tests[i].name || tests[i].outcome != o.tests[i].outcome) {
                return false;
            }
        }
        return true;
    };
    return fixture == o.fixture && device == o.device && state == o.state && model == o.model &&
           unit == o.unit && test == o.test && verdict == o.verdict && testIndex == o.testIndex &&
           testCount == o.testCount && run == o.run && start == o.start && end == o.end &&
           sameTests();
}

void LiveBoard::publish(std::vector<FixtureView> fixtures) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (fixtures == fixtures_) {
            return;
        }
        fixtures_ = std::move(fixtures);
        ++version_;
    }
    changed_.notify_all();
}

std::vector<FixtureView> LiveBoard::snapshot() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return fixtures_;
}

std::string LiveBoard::json(double now) const {
    std::vector<FixtureView> fixtures;
    std::uint64_t version = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        fixtures = fixtures_;
        version = version_;
    }
    std::string json = "{\"fixtures\":[";
    for (std::size_t i = 0; i < fixtures.size(); ++i) {
        const FixtureView& f = fixtures[i];
        json += (i == 0 ? "" : ",") + std::string("{\"fixture\":") + quoted(f.fixture) +
                ",\"device\":" + quoted(f.device) + ",\"state\":" + quoted(f.state) +
                ",\"model\":" + quotedOrNull(f.model) + ",\"unit\":" + quotedOrNull(f.unit) +
                ",\"test\":" + quotedOrNull(f.test) +
                ",\"testIndex\":" + optionalNumber(f.testIndex) +
                ",\"testCount\":" + optionalNumber(f.testCount) +
                ",\"elapsedSeconds\":" + (f.start == 0 ? "null" : number(elapsed(f, now))) +
                ",\"verdict\":" + quotedOrNull(f.verdict) + ",\"run\":" + optionalNumber(f.run) +
                ",\"tests\":[";
        for (std::size_t t = 0; t < f.tests.size(); ++t) {
            json += (t == 0 ? "" : ",") + std::string("{\"name\":") + quoted(f.tests[t].name) +
                    ",\"outcome\":" + quoted(f.tests[t].outcome) + "}";
        }
        json += "]}";
    }
    return json + "],\"version\":" + std::to_string(version) + "}\n";
}

std::uint64_t LiveBoard::waitForChange(std::uint64_t seen, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return version_ != seen; });
    return version_;
}

std::string terminalLine(const FixtureView& view, double now) {
    std::string test = view.state == "offline" ? view.why : view.test.value_or("-");
    if (view.test && view.testIndex && view.testCount) {
        test +=
            " (" + std::to_string(*view.testIndex) + "/" + std::to_string(*view.testCount) + ")";
    }
    const auto seconds = static_cast<long>(elapsed(view, now));
    char line[256];
    std::snprintf(line, sizeof line, "%-12s %-11s %-24s %-17s %-22s %3ld:%02ld  %s",
                  printable(view.fixture, 12).c_str(), view.state.c_str(),
                  printable(view.model.value_or("-"), 24).c_str(),
                  printable(view.unit.value_or("-"), 17).c_str(), printable(test, 22).c_str(),
                  seconds / 60, seconds % 60, view.verdict.value_or("-").c_str());
    return line;
}

void TerminalBoard::draw(const std::vector<FixtureView>& views, double now) {
    std::string out = drawn_ > 0 ? "\x1b[" + std::to_string(drawn_) + "A" : "";
    for (const FixtureView& view : views) {
        out += "\r\x1b[2K" + terminalLine(view, now) + "\n";
    }
    drawn_ = views.size();
    std::cout << out << std::flush;
}

}  // namespace bw_station
