// A network test's narration is the program's alone (no other program runs in it), so its
// whole text must be exactly what the program prints; anything else shows no value.
#include "record/Measurements.hpp"

#include <cctype>
#include <cstddef>

namespace bw_record {

namespace {

// Six two-digit hex groups joined by ':', lower-cased; empty when `text` is not one.
std::string wellFormedMac(const std::string& text) {
    if (text.size() != 17) {
        return "";
    }
    std::string mac;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (i % 3 == 2 ? c != ':' : std::isxdigit(c) == 0) {
            return "";
        }
        mac += static_cast<char>(std::tolower(c));
    }
    return mac;
}

std::string macOf(const Section& test, const std::string& interface) {
    const std::string head = "Reading /sys/class/net/" + interface + "/address: OK\n\n" +
                             interface + " found with MAC address = ";
    if (test.text.compare(0, head.size(), head) != 0 || test.text.size() < head.size() + 18 ||
        test.text[head.size() + 17] != '\n') {
        return "";
    }
    const std::string after = test.text.substr(head.size() + 18);
    if (!after.empty() && (test.outcome != Outcome::incomplete ||
                           std::string("\nPASS\n").compare(0, after.size(), after) != 0)) {
        return "";
    }
    return wellFormedMac(test.text.substr(head.size(), 17));
}

}  // namespace

void measure(RunRecord& record) {
    for (const Section& test : record.tests) {
        if (test.name == "Ethernet") {
            record.unit = macOf(test, "eth0");
        }
    }
}

}  // namespace bw_record
