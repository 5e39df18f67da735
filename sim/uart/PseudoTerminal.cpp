// Pseudo-terminal pair with its slave bound at fixed device paths.
#include "uart/PseudoTerminal.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "sandbox/Sandbox.hpp"

namespace bw_sim::uart {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("pseudo-terminal: " + what + ": " + std::strerror(errno));
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) {
        fail("posix_openpt");
    }
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        const int error = errno;
        ::close(master_);
        errno = error;
        fail("preparing the slave");
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (slave_ < 0 || ::tcgetattr(slave_, &settings) != 0) {
        const int error = errno;
        ::close(master_);
        if (slave_ >= 0) {
            ::close(slave_);
        }
        errno = error;
        fail("opening " + slavePath_);
    }
    ::cfmakeraw(&settings);
    ::tcsetattr(slave_, TCSANOW, &settings);
}

PseudoTerminal::~PseudoTerminal() {
    for (const std::string& path : bound_) {
        ::umount2(path.c_str(), MNT_DETACH);
        ::unlink(path.c_str());
    }
    ::close(slave_);
    ::close(master_);
}

void PseudoTerminal::bindAt(const std::string& path) {
    if (::access(path.c_str(), F_OK) == 0) {
        errno = EEXIST;
        fail(path);
    }
    sandbox::bindFile(slavePath_, path);
    bound_.push_back(path);
}

}  // namespace bw_sim::uart
