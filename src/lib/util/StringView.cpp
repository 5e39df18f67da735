// Comparison and output of the text views.
#include "lib/util/StringView.hpp"

#include <cstring>
#include <ostream>

namespace bw_selftest {

std::size_t TemporaryCStringView::length(const char* text) {
    return std::strlen(text);
}

bool operator==(TemporaryStringView a, TemporaryStringView b) {
    return a.size() == b.size() &&
           (a.size() == 0 || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

std::ostream& operator<<(std::ostream& out, TemporaryStringView view) {
    return out.write(view.data(), static_cast<std::streamsize>(view.size()));
}

}  // namespace bw_selftest
