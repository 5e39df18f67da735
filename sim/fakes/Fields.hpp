// Tab-separated records with escaped fields: the text format of the rules and the log.
#pragma once

#include <string>
#include <vector>

namespace bw_sim {

// Backslash, tab and line feed become \\, \t and \n, so a field holds any bytes.
std::string escapeField(const std::string& text);
std::string unescapeField(const std::string& field);

// Joins escaped fields with tabs and ends the record with a line feed.
std::string makeRecord(const std::vector<std::string>& fields);
// The unescaped fields of every line of `text`; a last line without its line feed (torn
// by a writer that died) is dropped.
std::vector<std::vector<std::string>> parseRecords(const std::string& text);

}  // namespace bw_sim
