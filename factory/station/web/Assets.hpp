// The page's files, built into the program: the line's network reaches nothing outside.
#pragma once

#include <string_view>

namespace bw_station::web {

struct Asset {
    std::string_view body;
    std::string_view type;
};

// "page.html", "app.js", "style.css"; an empty body for any other name.
Asset asset(std::string_view name);

}  // namespace bw_station::web
