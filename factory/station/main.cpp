// bw-station: follows the fixtures' consoles on the factory line, keeps every run in a
// database and answers the line's questions about them.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "station/Device.hpp"
#include "station/Reports.hpp"
#include "station/Station.hpp"
#include "station/Time.hpp"
#include "station/web/Server.hpp"

namespace {

constexpr int kBadUsage = 2;

const char* const kDatabaseHelp =
    "  --db FILE      the database (default: $BW_STATION_DB, else ./bw-station.db)\n";

const std::map<std::string, std::string> kHelp = {
    {"run",
     "usage: bw-station run [--db FILE] [--baud N] [--config FILE] [--listen ADDR:PORT]\n"
     "                      FIXTURE=DEVICE...\n"
     "Follows each DEVICE (a serial port, raw 8N1, or a pseudo-terminal) as the console of\n"
     "the hub in FIXTURE and stores every run. SIGINT or SIGTERM stores what has arrived\n"
     "and ends it.\n"
     "  --baud N       the serial line's rate (default 115200)\n"
     "  --config FILE  more fixtures: one FIXTURE=DEVICE a line, # starts a comment\n"
     "  --listen ADDR:PORT  where to serve the live page (default 127.0.0.1:8080; port 0\n"
     "                 takes a free one; none for no page)\n"},
    {"import",
     "usage: bw-station import [--db FILE] [--fixture NAME] LOG...\n"
     "Stores console logs captured elsewhere (a log may hold several boots), dated by the\n"
     "time each file was last written.\n"
     "  --fixture NAME the fixture they came from (default: import)\n"},
    {"runs",
     "usage: bw-station runs [--db FILE] [--unit MAC] [--fixture NAME] [--since TIME] [--json]\n"
     "The stored runs, newest first (at most 200). TIME: YYYY-MM-DD[THH:MM[:SS]][Z], UTC.\n"},
    {"show",
     "usage: bw-station show [--db FILE] RUN [--log | --json FILE | --junit FILE]\n"
     "One stored run: its facts, tests and steps, its raw console bytes (--log), or its\n"
     "record as the record tool writes it (FILE - is standard output).\n"},
    {"stats",
     "usage: bw-station stats [--db FILE] [--since TIME] [--until TIME] [--model ID]\n"
     "                        [--fixture NAME] [--json | --csv]\n"
     "Units seen, first-pass and final yield, retests, incomplete and unidentified runs,\n"
     "normal boots and unsupported models, and failures by test and step, most frequent\n"
     "first. Runs count by their start: SINCE <= start < UNTIL (UTC).\n"},
};

const char* const kUsage =
    "usage: bw-station COMMAND [OPTIONS]\n"
    "Commands: run, import, runs, show, stats. bw-station COMMAND --help says more.\n"
    "Exit status: 0 done, 1 the database or a file could not be used, 2 a bad command line.\n";

// The live page beside the consoles. A page that cannot be served costs no run: the station
// says so and follows the consoles without it.
struct Page : bw_station::Service {
    explicit Page(bw_station::Api& api) : server(api) {}
    bw_station::web::Server server;
};

std::unique_ptr<bw_station::Service> servePage(bw_station::Api& api,
                                               const bw_station::web::Listen& listen) {
    auto page = std::make_unique<Page>(api);
    std::string reason;
    if (!page->server.start(listen, reason)) {
        std::cerr << "bw-station: " << reason << "; following the consoles without the page\n";
        return nullptr;
    }
    const bool v6 = listen.host.find(':') != std::string::npos;
    std::cerr << "bw-station: the live page is at http://" << (v6 ? "[" : "") << listen.host
              << (v6 ? "]" : "") << ":" << page->server.port() << "/\n";
    return page;
}

struct BadUsage {
    std::string reason;
};

// The command line of one command: options with values, flags, and the rest in order.
struct Arguments {
    std::map<std::string, std::string> values;
    std::map<std::string, bool> flags;
    std::vector<std::string> rest;
};

Arguments parse(int argc, char** argv, const std::vector<std::string>& valued,
                const std::vector<std::string>& flags) {
    Arguments args;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            if (std::find(valued.begin(), valued.end(), arg) != valued.end()) {
                if (i + 1 >= argc) {
                    throw BadUsage{arg + " needs a value"};
                }
                args.values[arg] = argv[++i];
            } else if (std::find(flags.begin(), flags.end(), arg) != flags.end()) {
                args.flags[arg] = true;
            } else {
                throw BadUsage{"unknown option " + arg};
            }
        } else {
            args.rest.push_back(arg);
        }
    }
    return args;
}

std::string database(const Arguments& args) {
    if (const auto db = args.values.find("--db"); db != args.values.end()) {
        return db->second;
    }
    const char* fromEnvironment = std::getenv("BW_STATION_DB");
    return fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment
                                                                  : "bw-station.db";
}

std::string value(const Arguments& args, const std::string& option) {
    const auto found = args.values.find(option);
    return found == args.values.end() ? "" : found->second;
}

std::string time(const Arguments& args, const std::string& option) {
    std::string text = value(args, option);
    if (!text.empty() && !bw_station::parseTime(text)) {
        throw BadUsage{option + " " + text + " is not of the form YYYY-MM-DD[THH:MM[:SS]][Z]"};
    }
    return text;
}

bw_station::FixtureSpec fixtureSpec(const std::string& text, const std::string& where) {
    const std::size_t equals = text.find('=');
    if (equals == 0 || equals == std::string::npos || equals + 1 == text.size()) {
        throw BadUsage{where + "\"" + text + "\" is not FIXTURE=DEVICE"};
    }
    return {text.substr(0, equals), text.substr(equals + 1)};
}

int run(int argc, char** argv) {
    const Arguments args = parse(argc, argv, {"--db", "--baud", "--config", "--listen"}, {});
    const auto listenText = args.values.find("--listen");
    std::string reason;
    const auto listen = bw_station::web::parseListen(
        listenText == args.values.end() ? "127.0.0.1:8080" : listenText->second, reason);
    if (!reason.empty()) {
        throw BadUsage{reason};
    }
    bw_station::StationOptions options;
    options.database = database(args);
    if (const std::string baud = value(args, "--baud"); !baud.empty()) {
        char* end = nullptr;
        const unsigned long rate = std::strtoul(baud.c_str(), &end, 10);
        if (*end != '\0' || rate > 4000000 ||
            bw_station::speedOf(static_cast<unsigned>(rate)) == 0) {
            throw BadUsage{"--baud " + baud + " is not a rate the serial line knows"};
        }
        options.baud = static_cast<unsigned>(rate);
    }
    if (const std::string config = value(args, "--config"); !config.empty()) {
        std::ifstream in(config);
        if (!in) {
            throw BadUsage{"cannot read the configuration " + config};
        }
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            line = line.substr(0, line.find('#'));
            const std::size_t first = line.find_first_not_of(" \t\r");
            if (first == std::string::npos) {
                continue;
            }
            line = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
            options.fixtures.push_back(
                fixtureSpec(line, config + ":" + std::to_string(number) + ": "));
        }
    }
    for (const std::string& arg : args.rest) {
        options.fixtures.push_back(fixtureSpec(arg, ""));
    }
    if (options.fixtures.empty()) {
        throw BadUsage{"no fixture given"};
    }
    for (std::size_t i = 0; i < options.fixtures.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (options.fixtures[i].name == options.fixtures[j].name ||
                options.fixtures[i].device == options.fixtures[j].device) {
                throw BadUsage{"fixture " + options.fixtures[i].name + " or its device " +
                               options.fixtures[i].device + " is given twice"};
            }
        }
    }
    if (!listen) {
        return bw_station::runStation(options);
    }
    return bw_station::runStation(
        options, [&listen](bw_station::Api& api) { return servePage(api, *listen); });
}

int import(int argc, char** argv) {
    const Arguments args = parse(argc, argv, {"--db", "--fixture"}, {});
    if (args.rest.empty()) {
        throw BadUsage{"no log given"};
    }
    const std::string fixture = value(args, "--fixture");
    return bw_station::importLogs(database(args), fixture.empty() ? "import" : fixture, args.rest);
}

std::string lowerCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

int runs(int argc, char** argv) {
    const Arguments args =
        parse(argc, argv, {"--db", "--unit", "--fixture", "--since"}, {"--json"});
    if (!args.rest.empty()) {
        throw BadUsage{"unexpected argument " + args.rest.front()};
    }
    bw_station::RunQuery query;
    query.unit = lowerCase(value(args, "--unit"));
    query.fixture = value(args, "--fixture");
    query.since = time(args, "--since");
    bw_station::Reports reports(database(args));
    std::cout << (args.flags.count("--json") ? reports.runsJson(query) : reports.runsText(query));
    return 0;
}

// Written beside the target and renamed, so that a record is never left half written.
bool write(const std::string& path, const std::string& text) {
    if (path == "-") {
        std::cout << text << std::flush;
        return static_cast<bool>(std::cout);
    }
    const std::string partial = path + ".partial";
    {
        std::ofstream out(partial, std::ios::binary);
        out << text;
        out.close();
        if (!out) {
            std::remove(partial.c_str());
            return false;
        }
    }
    return std::rename(partial.c_str(), path.c_str()) == 0;
}

int show(int argc, char** argv) {
    const Arguments args = parse(argc, argv, {"--db", "--json", "--junit"}, {"--log"});
    if (args.rest.size() != 1) {
        throw BadUsage{args.rest.empty() ? "no run given" : "more than one run given"};
    }
    const int forms = static_cast<int>(args.flags.size() + args.values.count("--json") +
                                       args.values.count("--junit"));
    if (forms > 1) {
        throw BadUsage{"--log, --json and --junit exclude each other"};
    }
    char* end = nullptr;
    const long long id = std::strtoll(args.rest.front().c_str(), &end, 10);
    if (*end != '\0' || id <= 0) {
        throw BadUsage{"RUN " + args.rest.front() + " is not a run number"};
    }
    bw_station::Reports reports(database(args));
    std::optional<std::string> answer;
    std::string target = "-";
    if (args.flags.count("--log")) {
        answer = reports.runLog(id);
    } else if (args.values.count("--json")) {
        answer = reports.runRecordJson(id);
        target = value(args, "--json");
    } else if (args.values.count("--junit")) {
        answer = reports.runJunit(id);
        target = value(args, "--junit");
    } else {
        answer = reports.runText(id);
    }
    if (!answer) {
        std::cerr << "bw-station: no run " << id << "\n";
        return 1;
    }
    if (!write(target, *answer)) {
        std::cerr << "bw-station: cannot write " << target << "\n";
        return 1;
    }
    return 0;
}

int stats(int argc, char** argv) {
    const Arguments args = parse(argc, argv, {"--db", "--since", "--until", "--model", "--fixture"},
                                 {"--json", "--csv"});
    if (!args.rest.empty()) {
        throw BadUsage{"unexpected argument " + args.rest.front()};
    }
    if (args.flags.size() > 1) {
        throw BadUsage{"--json and --csv exclude each other"};
    }
    bw_station::StatsQuery query;
    query.since = time(args, "--since");
    query.until = time(args, "--until");
    query.model = value(args, "--model");
    query.fixture = value(args, "--fixture");
    bw_station::Reports reports(database(args));
    std::cout << (args.flags.count("--json")  ? reports.statsJson(query)
                  : args.flags.count("--csv") ? reports.statsCsv(query)
                                              : reports.statsText(query));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "--help" || command == "-h") {
        std::cout << kUsage;
        return 0;
    }
    const auto help = kHelp.find(command);
    if (help == kHelp.end()) {
        std::cerr << "bw-station: "
                  << (command.empty() ? "no command given" : "unknown command " + command)
                  << " (see --help)\n";
        return kBadUsage;
    }
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
            std::cout << help->second
                      << (command == "run" || command == "import" || command == "runs" ||
                                  command == "show" || command == "stats"
                              ? kDatabaseHelp
                              : "");
            return 0;
        }
    }
    try {
        const std::map<std::string, int (*)(int, char**)> commands = {
            {"run", run}, {"import", import}, {"runs", runs}, {"show", show}, {"stats", stats}};
        return commands.at(command)(argc, argv);
    } catch (const BadUsage& bad) {
        std::cerr << "bw-station " << command << ": " << bad.reason << " (see --help)\n";
        return kBadUsage;
    } catch (const bw_station::DatabaseError& error) {
        std::cerr << "bw-station: " << error.what() << "\n";
        return 1;
    }
}
