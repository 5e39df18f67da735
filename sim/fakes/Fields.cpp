// Escaping and splitting the records that the hub and the fakes exchange.
#include "fakes/Fields.hpp"

namespace bw_sim {

std::string escapeField(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string unescapeField(const std::string& field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        const char next = field[++i];
        out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
    }
    return out;
}

std::string makeRecord(const std::vector<std::string>& fields) {
    std::string record;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            record += '\t';
        }
        record += escapeField(fields[i]);
    }
    record += '\n';
    return record;
}

std::vector<std::vector<std::string>> parseRecords(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start)) {
        std::vector<std::string> fields;
        std::size_t from = start;
        for (;;) {
            const std::size_t tab = text.find('\t', from);
            if (tab == std::string::npos || tab > end) {
                fields.push_back(unescapeField(text.substr(from, end - from)));
                break;
            }
            fields.push_back(unescapeField(text.substr(from, tab - from)));
            from = tab + 1;
        }
        records.push_back(std::move(fields));
    }
    return records;
}

}  // namespace bw_sim
