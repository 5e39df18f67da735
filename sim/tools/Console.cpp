// The console's pseudo-terminal and its link.
#include "tools/Console.hpp"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace bw_sim::tool {

const char* const kConsoleBootLines =
    "\nU-Boot 2019.07 (simulated hub)\n"
    "DRAM:  448 MiB\n"
    "Hit any key to stop autoboot:  0 \n"
    "Starting kernel ...\n\n"
    "[    0.000000] Booting Linux on physical CPU 0x0\n"
    "[    0.000000] Linux version 5.10.0 (simulated hub)\n"
    "[    1.870215] Run /sbin/init as init process\n";

namespace {

// How long a reader may take to catch up once the run is over: as long as it keeps taking
// bytes, and never more than the cap.
constexpr std::chrono::milliseconds kDrainStall{500};
constexpr std::chrono::milliseconds kDrainCap{5000};

// The one console of this process, as its signal handler needs it: fixed buffers, no
// allocation.
int gDirectory = -1;
char gName[256];
char gDevice[64];

bool linkIsOurs(int directory, const char* name, const char* device) {
    char target[64];
    const ssize_t n = ::readlinkat(directory, name, target, sizeof target - 1);
    return n > 0 && static_cast<std::size_t>(n) == std::strlen(device) &&
           std::memcmp(target, device, static_cast<std::size_t>(n)) == 0;
}

void removeLinkAndDie(int signal) {
    if (gDirectory >= 0 && linkIsOurs(gDirectory, gName, gDevice)) {
        ::unlinkat(gDirectory, gName, 0);
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

[[noreturn]] void fail(const std::string& what, int error) {
    throw std::runtime_error("--console: " + what + ": " + std::strerror(error));
}

}  // namespace

Console::Console(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string directory =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    name_ = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name_.empty() || name_.size() >= sizeof gName - 8) {
        throw std::runtime_error("--console: " + path + " does not name a file");
    }
    directory_ = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory_ < 0) {
        fail(directory, errno);
    }
    char target[64] = "";
    struct stat st {};
    if (::fstatat(directory_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !(S_ISLNK(st.st_mode) &&
          ::readlinkat(directory_, name_.c_str(), target, sizeof target - 1) > 0 &&
          std::strncmp(target, "/dev/pts/", 9) == 0)) {
        ::close(directory_);
        throw std::runtime_error("--console: " + path +
                                 " exists and is no console link; remove it or name another path");
    }
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char device[64];
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, device, sizeof device) != 0) {
        const int error = errno;
        release();
        fail("a pseudo-terminal", error);
    }
    device_ = device;
    slave_ = ::open(device, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (slave_ < 0 || ::tcgetattr(slave_, &settings) != 0) {
        const int error = errno;
        release();
        fail(device_, error);
    }
    // Raw, so bytes that arrive before the reader sets its own mode are neither echoed
    // nor changed (CR would become LF).
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B115200);
    ::tcsetattr(slave_, TCSANOW, &settings);
    // Made beside it and renamed over it, so a reader never finds the path missing or
    // half made.
    const std::string temporary = name_ + ".new";
    ::unlinkat(directory_, temporary.c_str(), 0);
    if (::symlinkat(device, directory_, temporary.c_str()) != 0 ||
        ::renameat(directory_, temporary.c_str(), directory_, name_.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(directory_, temporary.c_str(), 0);
        release();
        fail(path, error);
    }
    std::strcpy(gName, name_.c_str());
    std::strcpy(gDevice, device);
    gDirectory = directory_;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_DFL) {
            action.sa_handler = removeLinkAndDie;
            ::sigaction(signal, &action, nullptr);
        }
    }
}

Console::~Console() {
    if (slave_ >= 0) {
        const auto cap = std::chrono::steady_clock::now() + kDrainCap;
        auto lastProgress = std::chrono::steady_clock::now();
        int before = -1;
        for (int pending = 0; ::ioctl(slave_, FIONREAD, &pending) == 0 && pending > 0;) {
            const auto now = std::chrono::steady_clock::now();
            if (pending != before) {
                lastProgress = now;
                before = pending;
            }
            if (now - lastProgress > kDrainStall || now > cap) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    release();
}

void Console::release() {
    if (gDirectory == directory_ && directory_ >= 0) {
        gDirectory = -1;
        if (linkIsOurs(directory_, name_.c_str(), device_.c_str())) {
            ::unlinkat(directory_, name_.c_str(), 0);
        }
    }
    for (int* fd : {&slave_, &master_, &directory_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

void Console::write(const std::string& bytes) {
    std::string line;
    line.reserve(bytes.size() + bytes.size() / 16);
    for (const char c : bytes) {
        if (c == '\n') {
            line += '\r';
        }
        line += c;
    }
    std::size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = ::write(master_, line.data() + sent, line.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    dropped_ += line.size() - sent;
}

}  // namespace bw_sim::tool
