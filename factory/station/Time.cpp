// The one clock the station reads, and its one time format.
#include "station/Time.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace bw_station {

double wallClock() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string isoTime(double seconds) {
    const double whole = std::floor(seconds);
    const auto t = static_cast<std::time_t>(whole);
    std::tm utc{};
    gmtime_r(&t, &utc);
    const int millis = std::min(999, static_cast<int>(std::lround((seconds - whole) * 1000)));
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
    return text;
}

std::optional<double> parseTime(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, used = 0;
    double second = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) != 3 || used != 10) {
        return std::nullopt;
    }
    std::string rest = text.substr(10);
    if (!rest.empty() && (rest[0] == 'T' || rest[0] == ' ')) {
        int more = 0;
        if (std::sscanf(rest.c_str() + 1, "%2d:%2d%n", &hour, &minute, &more) != 2 || more != 5) {
            return std::nullopt;
        }
        rest = rest.substr(6);
        if (!rest.empty() && rest[0] == ':') {
            if (std::sscanf(rest.c_str() + 1, "%lf%n", &second, &more) != 1 || second < 0 ||
                second >= 61) {
                return std::nullopt;
            }
            rest = rest.substr(static_cast<std::size_t>(more) + 1);
        }
    }
    if (rest == "Z") {
        rest.clear();
    }
    if (!rest.empty() || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
        minute > 59 || hour < 0 || minute < 0) {
        return std::nullopt;
    }
    std::tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    return static_cast<double>(timegm(&utc)) + second;
}

}  // namespace bw_station
