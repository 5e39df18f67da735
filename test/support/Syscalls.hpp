// Makes the moments between two system calls of the code under test reachable: a traced
// child that is held at the entry of a chosen call, and forced results of chosen calls.
#pragma once

#include <functional>
#include <vector>

namespace bw_test {

struct TracedRun {
    // What the body returned, or -1 when the child did not exit normally.
    int exitCode = -1;
    // Whether the child entered one of the watched calls.
    bool trapped = false;
};

// Runs `body` in a forked child under ptrace. The first time the child enters one of the
// system calls numbered in `syscalls`, `atEntry` runs here while the child is held there, and
// then the call goes ahead. `body` must not use the test framework; its return value is the
// child's exit code.
TracedRun runTrapped(
    const std::function<int()>& body, const std::vector<long>& syscalls,
    const std::function<void()>& atEntry = [] {});

// From now on in the calling process, the system call numbered `syscall` on descriptor `fd`
// (any call of that number when `fd` is negative) returns -errorNumber without running
// (0: returns 0). It cannot be undone: call it in a child only. Returns false where it
// cannot be installed.
bool forceSyscallResult(long syscall, int fd, int errorNumber);

// Every poll of the calling process, whichever system call the C library uses for it,
// fails with `errorNumber` from now on. Call it in a child only.
bool forcePollFailure(int errorNumber);

}  // namespace bw_test
