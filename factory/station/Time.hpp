// Times as the station stores them (seconds since the epoch) and shows them (ISO 8601, UTC).
#pragma once

#include <optional>
#include <string>

namespace bw_station {

double wallClock();
// 2026-12-08T09:30:00.250Z
std::string isoTime(double seconds);
// YYYY-MM-DD, optionally followed by THH:MM[:SS[.fraction]] and Z; times are UTC.
std::optional<double> parseTime(const std::string& text);

}  // namespace bw_station
