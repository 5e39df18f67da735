// Writing and reading the command log.
#include "fakes/CommandLog.hpp"

#include <cstdlib>

#include "fakes/Fields.hpp"

namespace bw_sim {

namespace command_log {

namespace {

std::vector<std::string> withStreams(std::vector<std::string> fields,
                                     const PipeState (&streams)[2]) {
    for (const PipeState& stream : streams) {
        fields.push_back(std::to_string(stream.inode));
        fields.push_back(std::to_string(stream.pending));
    }
    return fields;
}

// The streams after `first` in `fields`, when they are there.
void readStreams(const std::vector<std::string>& fields, std::size_t first,
                 PipeState (&streams)[2]) {
    for (std::size_t i = 0; i < 2 && first + 2 * i + 1 < fields.size(); ++i) {
        streams[i].inode = std::strtoul(fields[first + 2 * i].c_str(), nullptr, 10);
        streams[i].pending = std::atol(fields[first + 2 * i + 1].c_str());
    }
}

}  // namespace

std::string startEntry(pid_t pid, std::chrono::microseconds at, const std::string& program,
                       const std::string& line, const PipeState (&streams)[2]) {
    return makeRecord(withStreams(
        {"start", std::to_string(pid), std::to_string(at.count()), program, line}, streams));
}

std::string endEntry(pid_t pid, std::chrono::microseconds at, int status,
                     const PipeState (&streams)[2]) {
    return makeRecord(withStreams(
        {"end", std::to_string(pid), std::to_string(at.count()), std::to_string(status)}, streams));
}

std::vector<CommandRecord> parse(const std::string& text) {
    std::vector<CommandRecord> records;
    for (const std::vector<std::string>& fields : parseRecords(text)) {
        if (fields.size() < 4) {
            continue;
        }
        const auto pid = static_cast<pid_t>(std::atol(fields[1].c_str()));
        const std::chrono::microseconds at(std::atoll(fields[2].c_str()));
        if (fields[0] == "start" && fields.size() >= 5) {
            CommandRecord record;
            record.pid = pid;
            record.started = at;
            record.program = fields[3];
            record.line = fields[4];
            readStreams(fields, 5, record.startStreams);
            records.push_back(std::move(record));
            continue;
        }
        if (fields[0] != "end") {
            continue;
        }
        // Pids come back in long runs: the end belongs to the latest open start.
        for (auto it = records.rbegin(); it != records.rend(); ++it) {
            if (it->pid == pid && !it->finished) {
                it->finished = true;
                it->ended = at;
                it->status = std::atoi(fields[3].c_str());
                readStreams(fields, 4, it->endStreams);
                break;
            }
        }
    }
    return records;
}

}  // namespace command_log

}  // namespace bw_sim
