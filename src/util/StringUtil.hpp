// Trimming of one-line system files and the centred report banner.
#pragma once

#include <cstddef>
#include <string>

#include "lib/util/StringView.hpp"

namespace bw_selftest {

// Removes trailing white space (isspace, C locale) in place.
void trimRight(std::string& text);

// The text framed by fill characters in a line of `width`; unchanged if it does not fit.
std::string center(TemporaryStringView text, char fill, std::size_t width);

}  // namespace bw_selftest
