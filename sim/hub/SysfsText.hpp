// How sysfs attribute stores read what was written to them.
#pragma once

#include <string>

namespace bw_sim {

// True when `written` is `word`, optionally followed by one line feed (the kernel's
// sysfs_streq).
bool sysfsEquals(const std::string& written, const char* word);

// Parses an integer the way the kernel's kstrtol does with base 0: an optional sign, a
// decimal, octal (leading 0) or hex (leading 0x) number, and at most one trailing line feed.
bool parseKernelLong(const std::string& written, long& value);

}  // namespace bw_sim
