// The log of every run of a fake program: which command line, when, and how it ended.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace bw_sim {

struct CommandRecord {
    pid_t pid = 0;
    std::chrono::microseconds started{0};  // monotonic clock
    std::chrono::microseconds ended{0};
    std::string program;  // the name it ran under, without its directory
    std::string line;     // its arguments joined with blanks, the first as it was given
    bool finished = false;
    int status = 0;  // exit status, or the negative number of the signal that ended it
};

namespace command_log {

std::string startEntry(pid_t pid, std::chrono::microseconds at, const std::string& program,
                       const std::string& line);
std::string endEntry(pid_t pid, std::chrono::microseconds at, int status);
// The runs in the order they started.
std::vector<CommandRecord> parse(const std::string& text);

}  // namespace command_log

}  // namespace bw_sim
