// The log of every run of a fake program: which command line, when, and how it ended.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace bw_sim {

// A standard stream of a fake as it starts or ends: a pipe's inode (0 when the stream is
// not a pipe) and the bytes written to it that nobody has read yet. With what its reader
// has collected by then, that places the moment in the caller's output.
struct PipeState {
    unsigned long inode = 0;
    long pending = 0;
};

struct CommandRecord {
    pid_t pid = 0;
    std::chrono::microseconds started{0};  // monotonic clock
    std::chrono::microseconds ended{0};
    std::string program;  // the name it ran under, without its directory
    std::string line;     // its arguments joined with blanks, the first as it was given
    bool finished = false;
    int status = 0;             // exit status, or the negative number of the signal that ended it
    PipeState startStreams[2];  // standard output, standard error
    PipeState endStreams[2];
};

namespace command_log {

std::string startEntry(pid_t pid, std::chrono::microseconds at, const std::string& program,
                       const std::string& line, const PipeState (&streams)[2] = {});
std::string endEntry(pid_t pid, std::chrono::microseconds at, int status,
                     const PipeState (&streams)[2] = {});
// The runs in the order they started.
std::vector<CommandRecord> parse(const std::string& text);

}  // namespace command_log

}  // namespace bw_sim
