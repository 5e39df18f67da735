// bw-selftest-record: turns one run's standard output into a factory record (JUnit XML,
// JSON) and says by its exit status whether the run passed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "record/LogReader.hpp"
#include "record/Measurements.hpp"
#include "record/Writers.hpp"

namespace {

enum Status { kPassed = 0, kFailed = 1, kUnusable = 2, kIncomplete = 3 };

const char* const kUsage =
    "usage: bw-selftest-record [--junit FILE] [--json FILE] [--time START] [LOG]\n"
    "       bw-selftest-record --help | --version\n"
    "Reads the standard output of one bw-selftest run from LOG (or standard input, also\n"
    "for \"-\") and writes its record; FILE \"-\" is standard output. START is the run's\n"
    "start, YYYY-MM-DDTHH:MM:SS with optional fraction and zone (none means UTC). FILE is\n"
    "never the log, and an existing FILE is replaced only when empty or a record of this tool.\n"
    "The verdict and its reason go to standard error as one line.\n"
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
    long long seconds = 0;
    if (!options.start.empty() && !bw_record::startSeconds(options.start, seconds)) {
        return "--time " + options.start + " is no valid time of the form YYYY-MM-DDTHH:MM:SS";
    }
    if (!options.junit.empty() && options.junit != "-" && options.junit == options.json) {
        return "the JUnit and the JSON record cannot share a file";
    }
    return "";
}

// Whether `head`, the start of an existing file, is a record this tool writes or wrote.
bool isOwnRecord(const std::string& head) {
    const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites";
    return head.rfind(std::string("{\n  \"format\": \"") + bw_record::kJsonFormat + "\"", 0) == 0 ||
           head.rfind(xml + " name=\"" + bw_record::kJunitName + "\">", 0) == 0 ||
           // the first layout's records
           (head.rfind("{\n  \"model\": ", 0) == 0 &&
            head.find("\"road\": ") != std::string::npos) ||
           (head.rfind(xml + ">\n  <testsuite name=\"", 0) == 0 &&
            head.find("classname=\"bw-selftest") != std::string::npos);
}

// Empty when `path` may take a record, else why not: the log itself (`log`), and any
// existing file but an empty one or a record of this tool, are kept.
std::string refusal(const std::string& path, const struct stat& log) {
    struct stat target {};
    if (path == "-" || ::lstat(path.c_str(), &target) != 0) {
        return "";  // a missing target shows when written
    }
    if (target.st_dev == log.st_dev && target.st_ino == log.st_ino) {
        return "refusing to write the record onto its own input " + path;
    }
    if (!S_ISREG(target.st_mode)) {
        return "refusing to replace " + path + ": not a regular file";
    }
    std::string head(4096, '\0');
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t got = fd < 0 ? -1 : ::read(fd, &head[0], head.size());
    if (fd >= 0) {
        ::close(fd);
    }
    if (got < 0) {
        return "cannot read " + path + " to see what it is: " + std::strerror(errno);
    }
    head.resize(static_cast<std::size_t>(got));
    if (!head.empty() && !isOwnRecord(head)) {
        return "refusing to replace " + path + ": it is not a record of this tool";
    }
    return "";
}

// Empty on success, else why. `out` takes the log; nothing is read when a record's file
// must be refused.
std::string readAll(const std::string& path, const Options& options, std::string& out) {
    std::FILE* in = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        return "cannot open " + path + ": " + std::strerror(errno);
    }
    struct stat log {};
    std::string problem;
    if (::fstat(::fileno(in), &log) != 0) {
        problem = "cannot read " + path + ": " + std::strerror(errno);
    } else if (S_ISDIR(log.st_mode)) {
        problem = "cannot read " + path + ": " + std::strerror(EISDIR);
    }
    for (const std::string* record : {&options.junit, &options.json}) {
        if (problem.empty() && !record->empty()) {
            problem = refusal(*record, log);
        }
    }
    char buffer[65536];
    std::size_t got = 0;
    while (problem.empty() && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        out.append(buffer, got);
    }
    if (problem.empty() && std::ferror(in) != 0) {
        problem = "cannot read " + path + ": " + std::strerror(errno);
    }
    if (in != stdin) {
        std::fclose(in);
    }
    return problem;
}

// Written beside the target under a name of its own and renamed, so that a record is never
// left half written and no other file is touched.
std::string writeRecord(const std::string& path, const std::string& text) {
    if (path == "-") {
        std::cout << text << std::flush;
        return std::cout ? "" : "cannot write the record to standard output";
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(&temporary[0]);
    if (fd < 0) {
        return "cannot write " + path + ": " + std::strerror(errno);
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            break;
        }
        done += static_cast<std::size_t>(wrote);
    }
    const int error = done < text.size() ? errno : 0;
    // The record is shared like any other file, not private as mkstemp makes it.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const bool ok = done == text.size() && ::fchmod(fd, 0666 & ~mask) == 0;
    if (::close(fd) != 0 || !ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::string reason =
            "cannot write " + path + ": " + std::strerror(error != 0 ? error : errno);
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
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::cout << "bw-selftest-record " << BW_VERSION << " (record format 2)\n";
        return kPassed;
    }
    Options options;
    std::string problem = parse(argc, argv, options);
    if (!problem.empty()) {
        return unusable(problem + " (see --help)");
    }
    std::string log;
    problem = readAll(options.log, options, log);
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
    std::cerr << "bw-selftest-record: " << bw_record::verdictText(record.verdict) << ": "
              << record.reason << " ("
              << (record.unit.empty() ? "no unit: the log shows no well-formed eth0 MAC"
                                      : "unit " + record.unit)
              << ")\n";
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
