// Small helpers shared by the tests of the simulated hub.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace bw_sim_test {

// A file's whole content, or "<missing>" / "<unreadable: errno>".
std::string contentOf(const std::string& path);
bool exists(const std::string& path);
// 0, or the errno of the failing open or write.
int writeTo(const std::string& path, const std::string& data);
// The exit status of `command` run by /bin/sh without environment, or -signal when a
// signal ended it.
int shell(const std::string& command);
// The host's mounts whose source names a simulated hub's file system.
std::vector<std::string> hubMountsOnHost();
bool processExists(pid_t pid);

// Passes numbers from a sandbox child to the test: made before the sandbox, written in it,
// read after it ended.
class NumberPipe {
  public:
    NumberPipe();
    ~NumberPipe();
    NumberPipe(const NumberPipe&) = delete;
    NumberPipe& operator=(const NumberPipe&) = delete;
    void send(long number) const;
    // Everything sent so far; closes the writing end first.
    std::vector<long> received();

  private:
    int fds_[2] = {-1, -1};
};

}  // namespace bw_sim_test
