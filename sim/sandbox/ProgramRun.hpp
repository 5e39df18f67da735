// Starts a program with no arguments beyond its own and no environment, as the service
// manager does (only standard input, output and error open; it dies with its starter),
// and watches it: output captured separately and exactly, the moment it
// blocks in pause(), its open descriptors, and its end by SIGTERM.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace bw_sim {

class ProgramRun {
  public:
    // Starts argv[0] with argv and an empty environment. Throws std::runtime_error when the
    // process cannot be made.
    explicit ProgramRun(const std::vector<std::string>& argv);
    // Runs `body` in a forked child set up the same way, as if it were a program; the child
    // exits with 0 when the body returns and 1 when it throws. Assertions made there reach
    // no test: the body tells what it saw through its output and exit.
    explicit ProgramRun(const std::function<void()>& body);
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;
    // Kills and reaps the program if it is still there.
    ~ProgramRun();

    pid_t pid() const { return pid_; }

    // Collects output until the program blocks in pause(). False if it exits first or the
    // limit passes.
    bool waitUntilPaused(std::chrono::milliseconds limit);
    // Collects output until the program ends or the limit passes; true when it ended.
    bool waitForExit(std::chrono::milliseconds limit);
    // Sends SIGTERM and waits for the end (SIGKILL after the limit). True when SIGTERM
    // ended it.
    bool terminate(std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

    bool exited() const { return exited_; }
    // How many bytes the program has written to standard output (or error) so far,
    // collected or not, and the inode of that pipe (0 once it is closed). Safe from another
    // thread: while the program is blocked, this is exactly where it stands in the stream.
    std::size_t written(bool error) const;
    unsigned long pipeInode(bool error) const;
    // True while the program is blocked in pause(). Safe from another thread; it may take a
    // scheduler tick while the program runs.
    bool isPaused() const;
    int waitStatus() const { return status_; }

    // The descriptor numbers the program has open now, in order (from /proc/PID/fd).
    std::vector<int> openDescriptors() const;

    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

    // Called with every piece of output the moment it is collected (standard error when
    // `error`), so a watcher can show it while the program runs.
    using OutputListener = std::function<void(bool error, const std::string& piece)>;
    void onOutput(OutputListener listener) { listener_ = std::move(listener); }

  private:
    // Forks with the output pipes in place; in the child, `child` takes over and never
    // returns.
    void start(const std::function<void()>& child);
    // Reads what is available within `waitMs`; closes a pipe at its end.
    void pump(int waitMs);
    void drain();
    bool reap(bool block);
    std::size_t uncollected(bool error) const;

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    bool exited_ = false;
    int status_ = 0;
    std::string out_;
    std::string err_;
    OutputListener listener_;
    // Held while collected bytes move from a pipe into out_ or err_.
    mutable std::mutex collecting_;
};

}  // namespace bw_sim
