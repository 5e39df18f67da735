// Helpers for the hub's tests.
#include "HubTestSupport.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace bw_sim_test {

std::string contentOf(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? "<missing>" : "<unreadable: " + std::to_string(errno) + ">";
    }
    std::string text;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    const int error = errno;
    ::close(fd);
    return n < 0 ? "<unreadable: " + std::to_string(error) + ">" : text;
}

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

int writeTo(const std::string& path, const std::string& data) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const ssize_t n = ::write(fd, data.data(), data.size());
    const int error = n < 0 ? errno : 0;
    ::close(fd);
    return n == static_cast<ssize_t>(data.size()) ? 0 : (error != 0 ? error : EIO);
}

int shell(const std::string& command) {
    // As the program's system() runs it, but with no environment, as the program has none.
    const pid_t pid = ::fork();
    if (pid == 0) {
        const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
        char* noEnvironment[] = {nullptr};
        ::execve("/bin/sh", const_cast<char* const*>(argv), noEnvironment);
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        return -1000;
    }
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

std::vector<std::string> hubMountsOnHost() {
    std::ifstream in("/proc/self/mountinfo");
    std::vector<std::string> found;
    for (std::string line; std::getline(in, line);) {
        if (line.find("bw-sim-") != std::string::npos) {
            found.push_back(line);
        }
    }
    return found;
}

bool processExists(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

NumberPipe::NumberPipe() {
    if (::pipe2(fds_, O_CLOEXEC) != 0) {
        fds_[0] = fds_[1] = -1;
    }
}

NumberPipe::~NumberPipe() {
    for (int& fd : fds_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void NumberPipe::send(long number) const {
    const std::string text = std::to_string(number) + "\n";
    if (::write(fds_[1], text.data(), text.size()) < 0) {
        std::abort();  // a lost number would make the caller's check meaningless
    }
}

std::vector<long> NumberPipe::received() {
    if (fds_[1] >= 0) {
        ::close(fds_[1]);
        fds_[1] = -1;
    }
    std::string text;
    char buffer[256];
    ssize_t n = 0;
    while ((n = ::read(fds_[0], buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    std::vector<long> numbers;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start)) {
        numbers.push_back(std::atol(text.substr(start, end - start).c_str()));
    }
    return numbers;
}

}  // namespace bw_sim_test
