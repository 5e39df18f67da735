// Each value is taken only from the program's own line in its own place. A network test
// runs no other program, so its whole narration must be exactly the program's; the clock's
// lines end its test; the base ID follows the program's request; a radio tool's output
// runs from the program's "Running" line to the program's next line.
#include "record/Measurements.hpp"

#include <cctype>
#include <cstddef>
#include <ctime>
#include <utility>

namespace bw_record {

namespace {

using Type = Measurement::Type;
using Check = Measurement::Check;

const std::string kMacForm = "six two-digit hex groups joined by ':'";
const std::string kWholeSeconds = "a whole number of seconds";
const std::string kClockLines = "Reading /sys/class/rtc/rtc0/since_epoch: OK\nRTC found with time ";
const std::string kBaseIdLines = "Requesting BaseID: OK.\nBaseID = 0x";
constexpr unsigned long kBaseIdLow = 0xFF800000UL;
constexpr unsigned long kBaseIdHigh = 0xFFFFFF80UL;
constexpr unsigned kMostChanges = 10;
// A radio tool runs once and is retried at most three times (more bounds the work).
constexpr unsigned kMostToolRuns = 4;
// The program reads at most this much of the interface's address file.
constexpr std::size_t kMostAddressBytes = 32;

Measurement checked(std::string name, Type type, std::string value, std::string limits, bool ok) {
    return {std::move(name), type, std::move(value), std::move(limits),
            ok ? Check::passed : Check::failed};
}

// Whether `part` stands in `text` at `pos`, which may lie anywhere.
bool has(const std::string& text, std::size_t pos, const std::string& part) {
    return pos <= text.size() && text.compare(pos, part.size(), part) == 0;
}

bool isDigits(const std::string& text, std::size_t from, std::size_t count) {
    if (count == 0 || text.size() < from + count) {
        return false;
    }
    for (std::size_t i = from; i < from + count; ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) {
            return false;
        }
    }
    return true;
}

// A decimal integer that surely fits a long long.
bool wholeNumber(const std::string& text, long long& value) {
    const std::size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() - sign > 18 || !isDigits(text, sign, text.size() - sign)) {
        return false;
    }
    value = std::stoll(text);
    return true;
}

// Six two-digit hex groups joined by ':', lower-cased; empty when `text` is not one.
std::string wellFormedMac(const std::string& text) {
    if (text.size() != 17) {
        return "";
    }
    std::string mac;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (i % 3 == 2 ? c != ':' : std::isxdigit(c) == 0) {
            return "";
        }
        mac += static_cast<char>(std::tolower(c));
    }
    return mac;
}

// A cut log may end inside the verdict's lines; the measurements come before them. How many
// bytes at the end of an unfinished test's text begin its verdict's lines, or 0.
std::size_t verdictBegun(const Section& test) {
    const std::string verdict = "\nPASS\n";
    if (test.outcome == Outcome::incomplete) {
        for (std::size_t k = verdict.size(); k > 0; --k) {
            if (test.text.size() >= k &&
                test.text.compare(test.text.size() - k, k, verdict, 0, k) == 0) {
                return k;
            }
        }
    }
    return 0;
}

void network(const std::string& text, const std::string& interface, std::vector<Measurement>& out) {
    const std::string head = "Reading /sys/class/net/" + interface + "/address: OK\n\n" +
                             interface + " found with MAC address = ";
    if (!has(text, 0, head) || text.back() != '\n') {
        return;
    }
    const std::string address = text.substr(head.size(), text.size() - head.size() - 1);
    if (address.size() > kMostAddressBytes || address.find('\n') != std::string::npos) {
        return;
    }
    const std::string mac = wellFormedMac(address);
    out.push_back(mac.empty() ? checked("mac", Type::text, address, kMacForm, false)
                              : checked("mac", Type::mac, mac, kMacForm, true));
}

// "2019-03-01 12:00:00Z" as the program formats `seconds`, or empty.
std::string programTime(long long seconds) {
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm broken{};
    char text[64];
    if (::gmtime_r(&when, &broken) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%SZ", &broken) == 0) {
        return "";
    }
    return text;
}

void clock(const std::string& text, std::vector<Measurement>& out) {
    const std::string tail = ")\n";
    const std::size_t at = text.rfind(kClockLines);
    if (at == std::string::npos || text.size() < tail.size() ||
        !has(text, text.size() - tail.size(), tail)) {
        return;
    }
    const std::size_t timeEnd = text.find('\n', at + kClockLines.size());
    const std::string epochHead = "\n(since_epoch = ";
    if (!has(text, timeEnd, epochHead) || text.size() < timeEnd + epochHead.size() + tail.size()) {
        return;
    }
    const std::string time =
        text.substr(at + kClockLines.size(), timeEnd - at - kClockLines.size());
    const std::size_t epochAt = timeEnd + epochHead.size();
    const std::string epoch = text.substr(epochAt, text.size() - tail.size() - epochAt);
    long long seconds = 0;
    if (!wholeNumber(epoch, seconds)) {
        out.push_back(checked("since_epoch", Type::text, epoch, kWholeSeconds, false));
        return;
    }
    // The program prints the time it formats from the number; any other pair is not its own.
    if (time == programTime(seconds) && time.size() == 20) {
        std::string iso = time;
        iso[10] = 'T';
        out.push_back({"time", Type::time, iso, "", Check::none});
    } else if (time != "<unknown>") {
        return;
    }
    out.push_back(checked("since_epoch", Type::integer, epoch, kWholeSeconds, true));
}

void baseId(const std::string& text, std::vector<Measurement>& out) {
    std::size_t at = text.find(kBaseIdLines);
    while (at != 0 && at != std::string::npos && text[at - 1] != '\n') {
        at = text.find(kBaseIdLines, at + 1);
    }
    if (at == std::string::npos) {
        return;
    }
    const std::size_t hex = at + kBaseIdLines.size();
    const std::size_t count = hex + 10;
    std::size_t digits = 0;
    while (digits < 3 && isDigits(text, count + digits, 1)) {
        ++digits;
    }
    const std::string rest = " changes left\n";
    if (!has(text, hex + 8, ", ") || digits == 0 || !has(text, count + digits, rest)) {
        return;
    }
    const std::string id = text.substr(hex, 8);  // whole: ", " stands after it
    for (char c : id) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0 || std::islower(c) != 0) {
            return;
        }
    }
    const unsigned long value = std::stoul(id, nullptr, 16);
    const unsigned changes = static_cast<unsigned>(std::stoul(text.substr(count, digits)));
    if (changes > 255 || (digits > 1 && text[count] == '0')) {
        return;  // the program prints one byte's value
    }
    out.push_back(checked("base_id", Type::hex32, "0x" + id, "0xFF800000..0xFFFFFF80",
                          value >= kBaseIdLow && value <= kBaseIdHigh));
    out.push_back(checked("changes_left", Type::integer, std::to_string(changes), "0..10",
                          changes <= kMostChanges));
}

struct Tool {
    const char* command;
    const char* measurement;
};

std::vector<Tool> toolsOf(const std::string& model, const std::string& test) {
    if (test == "Zigbee") {
        return {{"bw-drop zigbee-svc zigbee-selftest", "selftest_output"}};
    }
    if (test != "Z-Wave") {
        return {};
    }
    if (model == "crate-1v0-b-eu") {
        return {
            {"/usr/bin/bw-zw-flash --get-version -- /dev/brambleway/Z-Wave", "firmware_version"}};
    }
    return {{"/usr/bin/bw-zw-flash --read-nvr /var/lib/brambleway/bw-selftest/nvr.bin "
             "--reset-pin 22 -- /dev/brambleway/Z-Wave",
             "nvr_read_output"},
            {"/usr/bin/bw-zw-flash --bridge --erase-nvm --reset-pin 22 -- /dev/brambleway/Z-Wave",
             "bridge_flash_output"}};
}

// Where the program's "Waiting Ns to retry..." line and the command's next run begin, at or
// after `from`; npos when nowhere.
std::size_t retryAt(const std::string& text, std::size_t from, const std::string& command) {
    const std::string again = "s to retry...\n\nRunning " + command + "\n";
    for (std::size_t at = text.find(again, from); at != std::string::npos;
         at = text.find(again, at + 1)) {
        std::size_t begin = at;
        while (begin > from && std::isdigit(static_cast<unsigned char>(text[begin - 1])) != 0) {
            --begin;
        }
        if (begin > from && text[begin - 1] == '-') {
            --begin;
        }
        if (begin < at && begin >= from + 8 && has(text, begin - 8, "Waiting ")) {
            return begin - 8;
        }
    }
    return std::string::npos;
}

void tools(const std::string& text, const std::vector<Tool>& list, std::vector<Measurement>& out) {
    if (list.empty()) {
        return;
    }
    const std::string first = "Running " + std::string(list[0].command) + "\n";
    std::size_t pos = text.find(first);
    while (pos != 0 && pos != std::string::npos && text[pos - 1] != '\n') {
        pos = text.find(first, pos + 1);
    }
    if (pos == std::string::npos) {
        return;
    }
    pos += first.size();
    unsigned runs = 0;
    for (std::size_t i = 0; i < list.size();) {
        if (++runs > kMostToolRuns) {
            return;  // more runs than the program makes: no output is surely a tool's own
        }
        const std::size_t retry = retryAt(text, pos, list[i].command);
        const std::string nextLine =
            i + 1 < list.size() ? "Running " + std::string(list[i + 1].command) + "\n" : "";
        const std::size_t next = nextLine.empty() ? std::string::npos : text.find(nextLine, pos);
        if (retry < next) {
            const std::string again = "\n\nRunning " + std::string(list[i].command) + "\n";
            pos = text.find(again, retry) + again.size();
            continue;
        }
        const std::size_t end = next == std::string::npos ? text.size() : next;
        out.push_back(
            {list[i].measurement, Type::text, text.substr(pos, end - pos), "", Check::none});
        if (next == std::string::npos) {
            return;
        }
        pos = next + nextLine.size();
        runs = 0;
        ++i;
    }
}

std::vector<Measurement> measurementsIn(const std::string& model, const Section& test,
                                        const std::string& text) {
    std::vector<Measurement> out;
    if (test.name == "Ethernet" || test.name == "Wifi") {
        network(text, test.name == "Wifi" ? "wlan0" : "eth0", out);
    } else if (test.name == "RTC") {
        clock(text, out);
    } else if (test.name == "EnOcean") {
        baseId(text, out);
    } else {
        tools(text, toolsOf(model, test.name), out);
    }
    return out;
}

// The whole text first, then (when it ends inside the verdict) the text before the verdict.
std::vector<Measurement> measurementsOf(const std::string& model, const Section& test) {
    std::vector<Measurement> out = measurementsIn(model, test, test.text);
    const std::size_t begun = verdictBegun(test);
    if (out.empty() && begun != 0) {
        out = measurementsIn(model, test, test.text.substr(0, test.text.size() - begun));
    }
    return out;
}

bool inRange(const std::string& text, std::size_t from, std::size_t count, int low, int high,
             int& value) {
    if (!isDigits(text, from, count)) {
        return false;
    }
    value = std::stoi(text.substr(from, count));
    return value >= low && value <= high;
}

}  // namespace

void measure(RunRecord& record) {
    for (Section& test : record.tests) {
        test.measurements = measurementsOf(record.model, test);
        if (test.name == "Ethernet" && !test.measurements.empty() &&
            test.measurements[0].type == Type::mac) {
            record.unit = test.measurements[0].value;
        }
    }
}

bool startSeconds(const std::string& t, long long& seconds) {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!(inRange(t, 0, 4, 1, 9999, year) && t.compare(4, 1, "-") == 0 &&
          inRange(t, 5, 2, 1, 12, month) && t.compare(7, 1, "-") == 0 &&
          inRange(t, 8, 2, 1, 31, day) && t.compare(10, 1, "T") == 0 &&
          inRange(t, 11, 2, 0, 23, hour) && t.compare(13, 1, ":") == 0 &&
          inRange(t, 14, 2, 0, 59, minute) && t.compare(16, 1, ":") == 0 &&
          inRange(t, 17, 2, 0, 59, second))) {
        return false;
    }
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (day > days[month - 1]) {
        return false;
    }
    std::size_t i = 19;
    if (i < t.size() && t[i] == '.') {
        const std::size_t first = ++i;
        while (isDigits(t, i, 1)) {
            ++i;
        }
        if (i == first) {
            return false;
        }
    }
    int zone = 0;
    if (i < t.size() && t[i] != 'Z') {
        int zoneHours = 0;
        int zoneMinutes = 0;
        if (!((t[i] == '+' || t[i] == '-') && t.size() == i + 6 &&
              inRange(t, i + 1, 2, 0, 23, zoneHours) && t[i + 3] == ':' &&
              inRange(t, i + 4, 2, 0, 59, zoneMinutes))) {
            return false;
        }
        zone = (t[i] == '-' ? -1 : 1) * (zoneHours * 3600 + zoneMinutes * 60);
    } else if (i < t.size() && i + 1 != t.size()) {
        return false;  // something after the Z
    }
    std::tm broken{};
    broken.tm_year = year - 1900;
    broken.tm_mon = month - 1;
    broken.tm_mday = day;
    broken.tm_hour = hour;
    broken.tm_min = minute;
    broken.tm_sec = second;
    seconds = static_cast<long long>(::timegm(&broken)) - zone;
    return true;
}

std::vector<Measurement> measurementsAt(const Section& test, const std::string& start) {
    std::vector<Measurement> out;
    long long startAt = 0;
    const bool started = !start.empty() && startSeconds(start, startAt);
    for (const Measurement& m : test.measurements) {
        out.push_back(m);
        if (started && m.name == "since_epoch" && m.type == Type::integer) {
            out.push_back({"offset", Type::integer, std::to_string(std::stoll(m.value) - startAt),
                           "", Check::none});
        }
    }
    return out;
}

}  // namespace bw_record
