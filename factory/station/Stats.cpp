// The line's figures: one pass over the selected runs, in the order of units and their
// attempts, by the covering index; failures counted by the database.
#include <cstdio>

#include "record/Record.hpp"
#include "station/Json.hpp"
#include "station/Printable.hpp"
#include "station/Reports.hpp"

namespace bw_station {

namespace {

std::optional<std::string> optionalText(const Statement& s, int column) {
    return s.isNull(column) ? std::nullopt : std::optional<std::string>(s.text(column));
}

std::string percent(std::int64_t part, std::int64_t whole) {
    if (whole == 0) {
        return "-";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.1f%% (%lld of %lld)",
                  100.0 * static_cast<double>(part) / static_cast<double>(whole),
                  static_cast<long long>(part), static_cast<long long>(whole));
    return text;
}

std::string share(std::int64_t part, std::int64_t whole) {
    if (whole == 0) {
        return "null";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.4f",
                  static_cast<double>(part) / static_cast<double>(whole));
    return text;
}

}  // namespace

// One pass over the runs in the order of units and start times, by the covering index.
Stats Reports::stats(const StatsQuery& query) {
    std::optional<std::int64_t> fixture;
    if (!query.fixture.empty()) {
        Statement find(db_, "SELECT id FROM fixture WHERE name = ?1");
        find.bind(1, query.fixture);
        fixture = find.step() ? find.integer(0) : -1;
        find.reset();
    }
    const char* const filter =
        " WHERE (?1 IS NULL OR r.fixture = ?1) AND (?2 = '' OR r.model = ?2) "
        "AND (?3 IS NULL OR r.start >= ?3) AND (?4 IS NULL OR r.start < ?4)";
    Statement s(db_, (std::string("SELECT r.unit, r.road, r.verdict FROM run r") + filter +
                      " ORDER BY r.unit, r.start, r.id")
                         .c_str());
    Statement f(db_, (std::string("SELECT fl.kind, fl.name, COUNT(*) FROM failure fl "
                                  "JOIN run r ON r.id = fl.run") +
                      filter + " GROUP BY fl.kind, fl.name ORDER BY 3 DESC, 1, 2")
                         .c_str());
    for (Statement* each : {&s, &f}) {
        if (fixture) {
            each->bind(1, *fixture);
        }
        each->bind(2, query.model);
        bindTime(*each, 3, query.since);
        bindTime(*each, 4, query.until);
    }
    Stats stats;
    std::optional<std::string> unit;
    bool unitTested = false;
    bool lastPassed = false;
    const auto closeUnit = [&] { stats.finalPassed += unitTested && lastPassed ? 1 : 0; };
    while (s.step()) {
        const std::optional<std::string> rowUnit = optionalText(s, 0);
        if (rowUnit != unit) {
            closeUnit();
            unit = rowUnit;
            unitTested = false;
            stats.units += unit ? 1 : 0;
        }
        const std::string road = s.text(1);
        const std::string verdict = s.text(2);
        if (verdict == "normal-boot") {
            ++stats.normalBoots;
        } else if (verdict == "unsupported") {
            ++stats.unsupported;
        } else if (verdict == "incomplete") {
            ++stats.incomplete;
        } else if (road == bw_record::roadText(bw_record::Road::firstBoot) &&
                   (verdict == "passed" || verdict == "failed")) {
            if (!unit) {
                ++stats.unidentified;
                continue;
            }
            ++stats.attempts;
            if (!unitTested) {
                unitTested = true;
                ++stats.testedUnits;
                stats.firstPassed += verdict == "passed" ? 1 : 0;
            }
            lastPassed = verdict == "passed";
        }
    }
    closeUnit();
    while (f.step()) {
        stats.failures.push_back({f.text(0), f.text(1), f.integer(2)});
    }
    return stats;
}

std::string Reports::statsJson(const StatsQuery& query) {
    const Stats s = stats(query);
    std::string json =
        "{\"units\":" + number(s.units) + ",\"testedUnits\":" + number(s.testedUnits) +
        ",\"attempts\":" + number(s.attempts) +
        ",\"firstPassYield\":" + share(s.firstPassed, s.testedUnits) +
        ",\"finalYield\":" + share(s.finalPassed, s.testedUnits) +
        ",\"retests\":" + number(s.attempts - s.testedUnits) +
        ",\"incomplete\":" + number(s.incomplete) + ",\"unidentified\":" + number(s.unidentified) +
        ",\"normalBoots\":" + number(s.normalBoots) + ",\"unsupported\":" + number(s.unsupported) +
        ",\"failures\":[";
    bool first = true;
    for (const Failure& failure : s.failures) {
        json += std::string(first ? "" : ",") + "{\"kind\":" + quoted(failure.kind) +
                ",\"name\":" + quoted(failure.name) + ",\"count\":" + number(failure.count) + "}";
        first = false;
    }
    return json + "]}\n";
}

std::string Reports::statsCsv(const StatsQuery& query) {
    const Stats s = stats(query);
    std::string csv = "metric,name,value\n";
    const auto row = [&csv](const std::string& metric, const std::string& name,
                            const std::string& value) {
        csv += metric + "," + name + "," + value + "\n";
    };
    row("units", "", number(s.units));
    row("tested-units", "", number(s.testedUnits));
    row("attempts", "", number(s.attempts));
    row("first-pass-yield", "", share(s.firstPassed, s.testedUnits));
    row("final-yield", "", share(s.finalPassed, s.testedUnits));
    row("retests", "", number(s.attempts - s.testedUnits));
    row("incomplete", "", number(s.incomplete));
    row("unidentified", "", number(s.unidentified));
    row("normal-boots", "", number(s.normalBoots));
    row("unsupported", "", number(s.unsupported));
    for (const Failure& failure : s.failures) {
        // Test and step names are the program's own and hold neither commas nor quotes.
        row("failures-" + failure.kind, "\"" + failure.name + "\"", number(failure.count));
    }
    return csv;
}

std::string Reports::statsText(const StatsQuery& query) {
    const Stats s = stats(query);
    std::string text = "units seen          " + number(s.units) + "\n" + "units tested        " +
                       number(s.testedUnits) + "\n" + "attempts            " + number(s.attempts) +
                       "\n" + "first-pass yield    " + percent(s.firstPassed, s.testedUnits) +
                       "\n" + "final yield         " + percent(s.finalPassed, s.testedUnits) +
                       "\n" + "retests             " + number(s.attempts - s.testedUnits) + "\n" +
                       "incomplete runs     " + number(s.incomplete) + "\n" +
                       "unidentified runs   " + number(s.unidentified) + "\n" +
                       "normal boots        " + number(s.normalBoots) + "\n" +
                       "unsupported models  " + number(s.unsupported) + "\n";
    if (!s.failures.empty()) {
        text += "failures, most frequent first:\n";
    }
    for (const Failure& failure : s.failures) {
        char line[256];
        std::snprintf(line, sizeof line, "  %-5s %-28s %lld\n", failure.kind.c_str(),
                      printable(failure.name).c_str(), static_cast<long long>(failure.count));
        text += line;
    }
    return text;
}

}  // namespace bw_station
