// Writing and reading the command log.
#include "fakes/CommandLog.hpp"

#include <cstdlib>

#include "fakes/Fields.hpp"

namespace bw_sim {

namespace command_log {

std::string startEntry(pid_t pid, std::chrono::microseconds at, const std::string& program,
                       const std::string& line) {
    return makeRecord({"start", std::to_string(pid), std::to_string(at.count()), program, line});
}

std::string endEntry(pid_t pid, std::chrono::microseconds at, int status) {
    return makeRecord(
        {"end", std::to_string(pid), std::to_string(at.count()), std::to_string(status)});
}

std::vector<CommandRecord> parse(const std::string& text) {
    std::vector<CommandRecord> records;
    for (const std::vector<std::string>& fields : parseRecords(text)) {
        if (fields.size() < 4) {
            continue;
        }
        const auto pid = static_cast<pid_t>(std::atol(fields[1].c_str()));
        const std::chrono::microseconds at(std::atoll(fields[2].c_str()));
        if (fields[0] == "start" && fields.size() == 5) {
            CommandRecord record;
            record.pid = pid;
            record.started = at;
            record.program = fields[3];
            record.line = fields[4];
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
                break;
            }
        }
    }
    return records;
}

}  // namespace command_log

}  // namespace bw_sim
