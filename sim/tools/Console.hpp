// The program's serial console for a station to follow: standard output and error as one
// stream on a pseudo-terminal, reached through a symbolic link that lives as long as the run.
#pragma once

#include <cstddef>
#include <string>

namespace bw_sim::tool {

// What the hub's boot loader and kernel print before the service manager starts the
// program (sent through Console::write, like the program's output).
extern const char* const kConsoleBootLines;

class Console {
  public:
    // Makes the pseudo-terminal (slave raw, held open here, so bytes wait for a reader that
    // comes late) and the link `path` to its device. A link into /dev/pts that is already
    // there, left by a hub that was killed, is replaced; anything else there is refused.
    // Also removes the link when SIGINT, SIGTERM or SIGHUP ends the process. Throws
    // std::runtime_error with one line saying why.
    explicit Console(const std::string& path);
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    // Gives a reader a moment to take what is pending, then removes the link (if it is
    // still this console's) and closes both sides: the reader sees the line hang up.
    ~Console();

    const std::string& device() const { return device_; }
    // Sends `bytes` as a tty with onlcr shows them: each LF as CR LF. Never blocks: what
    // finds the line full (about 64 KiB unread) is lost, as on a serial line nobody reads.
    void write(const std::string& bytes);
    std::size_t dropped() const { return dropped_; }

  private:
    // Removes the link if it is still this console's; closes everything.
    void release();

    int master_ = -1;
    int slave_ = -1;
    int directory_ = -1;  // the link's directory, opened before any sandbox covers it
    std::string name_;    // the link's name in it
    std::string device_;
    std::size_t dropped_ = 0;
};

}  // namespace bw_sim::tool
