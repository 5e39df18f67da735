// bw-selftest-record: turns one run's standard output into a factory record (JUnit XML,
// JSON) and says by its exit status whether the run passed.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "record/LogReader.hpp"
#include "record/Writers.hpp"

namespace {

enum Status { kPassed = 0, kFailed = 1, kUnusable = 2, kIncomplete = 3 };

const char* const kUsage =
    "usage: bw-selftest-record [--junit FILE] [--json FILE] [--time START] [LOG]\n"
    "Reads the standard output of one bw-selftest run from LOG (or standard input, also\n"
    "for \"-\") and writes its record; FILE \"-\" is standard output. START is the run's\n"
    "start, YYYY-MM-DDTHH:MM:SS with optional fraction and zone.\n"
    "Exit status: 0 passed, 1 failed, 3 incomplete, 2 unreadable input or bad arguments.\n";

struct Options {
    std::string junit;
    std::string json;
    std::string start;
    std::string log = "-";
};

int unusable(const std::string& reason) {
    std::cerr << "bw-selftest-record: " << reason << "\n";
    return kUnusable;
}

bool digits(const std::string& text, std::size_t from, std::size_t count) {
    if (text.size() < from + count) {
        return false;
    }
    for (std::size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

// The shape readers of the record accept: 2026-12-08T13:58:03[.123][Z|+01:00].
bool validStart(const std::string& t) {
    if (!(digits(t, 0, 4) && t[4] == '-' && digits(t, 5, 2) && t[7] == '-' && digits(t, 8, 2) &&
          t[10] == 'T' && digits(t, 11, 2) && t[13] == ':' && digits(t, 14, 2) && t[16] == ':' &&
          digits(t, 17, 2))) {
        return false;
    }
    std::size_t i = 19;
    if (i < t.size() && t[i] == '.') {
        const std::size_t first = ++i;
        while (digits(t, i, 1)) {
            ++i;
        }
        if (i == first) {
            return false;
        }
    }
    if (i == t.size() || (t[i] == 'Z' && i + 1 == t.size())) {
        return true;
    }
    return (t[i] == '+' || t[i] == '-') && digits(t, i + 1, 2) && t.size() == i + 6 &&
           t[i + 3] == ':' && digits(t, i + 4, 2);
}

// Empty on success, else why.
std::string parse(int argc, char** argv, Options& options) {
    bool logGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string* value = arg == "--junit"  ? &options.junit
                             : arg == "--json" ? &options.json
                             : arg == "--time" ? &options.start
                                               : nullptr;
        if (value != nullptr) {
            const std::string next = i + 1 < argc ? argv[i + 1] : "";
            if (next.empty() || (next[0] == '-' && next != "-")) {
                return arg + " needs a value";
            }
            *value = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + arg;
        } else if (logGiven || arg.empty()) {
            return arg.empty() ? "empty log path" : "more than one log given";
        } else {
            options.log = arg;
            logGiven = true;
        }
    }
    if (options.junit == "-" && options.json == "-") {
        return "only one record can go to standard output";
    }
    if (!options.start.empty() && !validStart(options.start)) {
        return "--time " + options.start + " is not of the form YYYY-MM-DDTHH:MM:SS";
    }
    return "";
}

// Empty on success, else why.
std::string readAll(const std::string& path, std::string& out) {
    std::FILE* in = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        return "cannot open " + path + ": " + std::strerror(errno);
    }
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        out.append(buffer, got);
    }
    const bool failed = std::ferror(in) != 0;
    const int error = errno;
    if (in != stdin) {
        std::fclose(in);
    }
    return failed ? "cannot read " + path + ": " + std::strerror(error) : "";
}

// Written beside the target and renamed, so that a record is never left half written.
std::string writeRecord(const std::string& path, const std::string& text) {
    if (path == "-") {
        std::cout << text << std::flush;
        return std::cout ? "" : "cannot write the record to standard output";
    }
    const std::string temporary = path + ".partial";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (out == nullptr) {
        return "cannot write " + path + ": " + std::strerror(errno);
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    const int error = errno;
    if (std::fclose(out) != 0 || !written) {
        std::remove(temporary.c_str());
        return "cannot write " + path + ": " + std::strerror(written ? errno : error);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return reason;
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::cout << kUsage;
        return kPassed;
    }
    Options options;
    std::string problem = parse(argc, argv, options);
    if (!problem.empty()) {
        return unusable(problem + " (see --help)");
    }
    std::string log;
    problem = readAll(options.log, log);
    if (!problem.empty()) {
        return unusable(problem);
    }
    const bw_record::RunRecord record = bw_record::readLog(std::move(log));
    if (!options.junit.empty()) {
        problem = writeRecord(options.junit, bw_record::junitRecord(record, options.start));
    }
    if (problem.empty() && !options.json.empty()) {
        problem = writeRecord(options.json, bw_record::jsonRecord(record, options.start));
    }
    if (!problem.empty()) {
        return unusable(problem);
    }
    switch (record.verdict) {
        case bw_record::Verdict::passed:
            return kPassed;
        case bw_record::Verdict::failed:
            return kFailed;
        case bw_record::Verdict::incomplete:
            break;
    }
    return kIncomplete;
}
