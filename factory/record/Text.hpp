// Log text, which may hold any bytes, made safe for the record formats.
#pragma once

#include <string>

namespace bw_record {

// Character data or (with `attribute`) an attribute value of XML 1.0: markup escaped,
// carriage returns and (in attributes) tabs and line feeds kept as references, and every
// byte that is not valid UTF-8 or a character XML 1.0 forbids replaced by U+FFFD.
std::string xmlEscaped(const std::string& bytes, bool attribute);
// A JSON string, quotes included; bytes that are not valid UTF-8 become U+FFFD.
std::string jsonQuoted(const std::string& bytes);
// The same, added to the end of `out`: a record is built in one string, not from copies.
void appendXmlEscaped(std::string& out, const std::string& bytes, bool attribute);
void appendJsonQuoted(std::string& out, const std::string& bytes);

}  // namespace bw_record
