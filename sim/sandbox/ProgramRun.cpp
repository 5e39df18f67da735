// Starting and watching the program under test.
#include "sandbox/ProgramRun.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <stdexcept>

namespace bw_sim {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

void closeAllFrom(int first) {
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, static_cast<unsigned>(first), ~0U, 0U) == 0) {
        return;
    }
#endif
    const long limit = ::sysconf(_SC_OPEN_MAX);
    for (int fd = first; fd < (limit > 0 ? limit : 1024); ++fd) {
        ::close(fd);
    }
}

// Gives the child standard input from /dev/null and the two pipes, and nothing else, as a
// service manager would; it is killed if its starter goes away.
void prepareChild(pid_t starter, int outFd, int errFd) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != starter) {
        ::raise(SIGKILL);  // the starter went before the signal was asked for
    }
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nullFd < 0 || ::dup2(nullFd, 0) < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0) {
        ::_exit(126);
    }
    closeAllFrom(3);
}

}  // namespace

ProgramRun::ProgramRun(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    start([&args] {
        char* noEnvironment[] = {nullptr};
        ::execve(args[0], args.data(), noEnvironment);
        std::fprintf(stderr, "execve %s: %s\n", args[0], std::strerror(errno));
        ::_exit(127);
    });
}

ProgramRun::ProgramRun(const std::function<void()>& body) {
    start([&body] {
        int status = 0;
        try {
            body();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "exception: %s\n", e.what());
            status = 1;
        } catch (...) {
            std::fprintf(stderr, "unknown exception\n");
            status = 1;
        }
        std::fflush(nullptr);
        ::_exit(status);
    });
}

void ProgramRun::start(const std::function<void()>& child) {
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    std::fflush(nullptr);
    const pid_t starter = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        prepareChild(starter, outPipe[1], errPipe[1]);
        child();
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
    if (pid_ < 0) {
        closeFd(outFd_);
        closeFd(errFd_);
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
}

ProgramRun::~ProgramRun() {
    if (!exited_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        reap(true);
    }
    closeFd(outFd_);
    closeFd(errFd_);
}

void ProgramRun::pump(int waitMs) {
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (::poll(fds, 2, waitMs) <= 0) {
        return;
    }
    char buffer[4096];
    for (pollfd& p : fds) {
        if (p.fd < 0 || p.revents == 0) {
            continue;
        }
        const bool error = p.fd == errFd_;
        ssize_t n = 0;
        {
            const std::lock_guard<std::mutex> lock(collecting_);
            n = ::read(p.fd, buffer, sizeof buffer);
            if (n > 0) {
                (error ? err_ : out_).append(buffer, static_cast<std::size_t>(n));
            }
        }
        if (n > 0) {
            if (listener_) {
                listener_(error, std::string(buffer, static_cast<std::size_t>(n)));
            }
        } else if (n == 0 || errno != EINTR) {
            const std::lock_guard<std::mutex> lock(collecting_);
            closeFd(p.fd == outFd_ ? outFd_ : errFd_);
        }
    }
}

bool ProgramRun::reap(bool block) {
    if (exited_) {
        return true;
    }
    int status = 0;
    pid_t got = 0;
    do {
        got = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == pid_) {
        exited_ = true;
        status_ = status;
    }
    return exited_;
}

std::size_t ProgramRun::written(bool error) const {
    const std::lock_guard<std::mutex> lock(collecting_);
    return (error ? err_ : out_).size() + uncollected(error);
}

std::size_t ProgramRun::uncollected(bool error) const {
    int pending = 0;
    if (::ioctl(error ? errFd_ : outFd_, FIONREAD, &pending) != 0 || pending < 0) {
        return 0;
    }
    return static_cast<std::size_t>(pending);
}

unsigned long ProgramRun::pipeInode(bool error) const {
    const std::lock_guard<std::mutex> lock(collecting_);
    struct stat st {};
    return ::fstat(error ? errFd_ : outFd_, &st) == 0 ? static_cast<unsigned long>(st.st_ino) : 0;
}

// /proc/PID/syscall names the call a sleeping task is blocked in.
bool ProgramRun::isPaused() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/syscall");
    long number = -1;
    if (!(in >> number)) {
        return false;
    }
#ifdef SYS_pause
    return number == SYS_pause;
#else
    return number == SYS_ppoll;
#endif
}

bool ProgramRun::waitUntilPaused(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (reap(false)) {
            return false;
        }
        if (isPaused()) {
            drain();
            return true;
        }
        const int left = msLeft(deadline);
        if (left == 0) {
            return false;
        }
        pump(left < 10 ? left : 10);
    }
}

bool ProgramRun::waitForExit(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!reap(false)) {
        const int left = msLeft(deadline);
        if (left == 0) {
            return false;
        }
        pump(left < 10 ? left : 10);
    }
    drain();
    return true;
}

// What the program wrote is all in the pipes once it has ended or blocked. Its pipes may
// stay open for long after (a command it left running in the background inherited them),
// so this takes what is there and does not wait for their end.
void ProgramRun::drain() {
    while (outFd_ >= 0 || errFd_ >= 0) {
        const std::size_t before = out_.size() + err_.size();
        pump(0);
        if (out_.size() + err_.size() == before) {
            return;
        }
    }
}

bool ProgramRun::terminate(std::chrono::milliseconds limit) {
    if (exited_) {
        return false;
    }
    ::kill(pid_, SIGTERM);
    if (waitForExit(limit)) {
        return WIFSIGNALED(status_) && WTERMSIG(status_) == SIGTERM;
    }
    ::kill(pid_, SIGKILL);
    reap(true);
    return false;
}

std::vector<int> ProgramRun::openDescriptors() const {
    std::vector<int> fds;
    const std::string path = "/proc/" + std::to_string(pid_) + "/fd";
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        return fds;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            fds.push_back(std::atoi(entry->d_name));
        }
    }
    ::closedir(dir);
    std::sort(fds.begin(), fds.end());
    return fds;
}

}  // namespace bw_sim
