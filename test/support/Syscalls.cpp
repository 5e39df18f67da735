// Makes the moments between two system calls of the code under test reachable.
#include "support/Syscalls.hpp"

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <iostream>
#include <vector>

namespace bw_test {

namespace {

#if defined(__x86_64__)
constexpr unsigned kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kAuditArch = AUDIT_ARCH_AARCH64;
#elif defined(__arm__)
constexpr unsigned kAuditArch = AUDIT_ARCH_ARM;
#elif defined(__i386__)
constexpr unsigned kAuditArch = AUDIT_ARCH_I386;
#else
constexpr unsigned kAuditArch = 0;
#endif

constexpr int kSyscallStop = SIGTRAP | 0x80;

bool waitStopped(pid_t pid, int& status) {
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool entersWatchedCall(pid_t pid, const std::vector<long>& syscalls) {
    __ptrace_syscall_info info{};
    if (::ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) < 0) {
        return false;
    }
    if (info.op != PTRACE_SYSCALL_INFO_ENTRY) {
        return false;
    }
    const auto number = static_cast<long>(info.entry.nr);
    return std::find(syscalls.begin(), syscalls.end(), number) != syscalls.end();
}

}  // namespace

TracedRun runTrapped(const std::function<int()>& body, const std::vector<long>& syscalls,
                     const std::function<void()>& atEntry) {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    TracedRun run;
    const pid_t pid = ::fork();
    if (pid < 0) {
        return run;
    }
    if (pid == 0) {
        if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
            ::_exit(126);
        }
        ::raise(SIGSTOP);
        int code = 125;
        try {
            code = body();
        } catch (...) {
        }
        std::cout.flush();
        std::fflush(nullptr);
        ::_exit(code);
    }
    int status = 0;
    if (!waitStopped(pid, status) || !WIFSTOPPED(status)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return run;
    }
    ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    int deliver = 0;
    for (;;) {
        // Once trapped, the child runs on untraced.
        const auto resume = run.trapped ? PTRACE_CONT : PTRACE_SYSCALL;
        if (::ptrace(resume, pid, nullptr, deliver) != 0 || !waitStopped(pid, status)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return run;
        }
        deliver = 0;
        if (WIFEXITED(status)) {
            run.exitCode = WEXITSTATUS(status);
            return run;
        }
        if (WIFSIGNALED(status)) {
            return run;
        }
        if (WSTOPSIG(status) != kSyscallStop) {
            deliver = WSTOPSIG(status);
            continue;
        }
        if (!run.trapped && entersWatchedCall(pid, syscalls)) {
            run.trapped = true;
            atEntry();
        }
    }
}

bool forceSyscallResult(long syscall, int fd, int errorNumber) {
    if (kAuditArch == 0) {
        return false;
    }
    const auto errnoData = static_cast<unsigned>(errorNumber) & SECCOMP_RET_DATA;
    const sock_filter allow = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    const sock_filter force = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | errnoData);
    std::vector<sock_filter> filter = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0),
        allow,
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    };
    if (fd < 0) {
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(syscall), 0, 1));
    } else {
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(syscall), 0, 3));
        // Descriptors are ints: the low half of the argument (little-endian) is enough.
        filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])));
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(fd), 0, 1));
    }
    filter.push_back(force);
    filter.push_back(allow);
    sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        return false;
    }
    return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

bool forcePollFailure(int errorNumber) {
    bool forced = false;
#ifdef SYS_poll
    forced = forceSyscallResult(SYS_poll, -1, errorNumber);
#endif
    return forceSyscallResult(SYS_ppoll, -1, errorNumber) || forced;
}

}  // namespace bw_test
