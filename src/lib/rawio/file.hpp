// Throwing whole-file reads and writes.
#pragma once

#include <cstddef>

#include "lib/util/StringView.hpp"

namespace RawIO {

// Creates or truncates the file (mode 0666 less umask) and writes all of `data`.
void writeWholeFile(bw_selftest::TemporaryCStringView path, const void* data, std::size_t length);

// Reads the whole file into the caller's buffer; throws "file bigger than buffer" if it
// does not fit. Returns a view of the bytes read.
bw_selftest::TemporaryStringView readWholeFile(bw_selftest::TemporaryCStringView path, char* buffer,
                                               std::size_t capacity);

}  // namespace RawIO
