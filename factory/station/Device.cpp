// Opening a console: every call checked, and the reason kept for the fixture's status.
#include "station/Device.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

namespace bw_station {

namespace {

std::string failure(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

unsigned speedOf(unsigned baud) {
    switch (baud) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            return 0;
    }
}

RawIO::FileDescriptor openConsole(const std::string& path, unsigned baud, std::string& why) {
    RawIO::FileDescriptor fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        why = failure("cannot open", path);
        return fd;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        why = errno == EWOULDBLOCK ? path + " is in use by another station"
                                   : failure("cannot lock", path);
        return RawIO::FileDescriptor();
    }
    if (::ioctl(fd.get(), TIOCEXCL) != 0) {
        why = failure("cannot open exclusively", path);
        return RawIO::FileDescriptor();
    }
    termios tty{};
    if (::tcgetattr(fd.get(), &tty) != 0) {
        why = failure("not a terminal:", path);
        return RawIO::FileDescriptor();
    }
    cfmakeraw(&tty);
    tty.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
    tty.c_cflag |= CS8 | CLOCAL | CREAD;
    tty.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tty.c_cc[VMIN] = 1;
    tty.c_cc[VTIME] = 0;
    const auto speed = static_cast<speed_t>(speedOf(baud));
    if (cfsetispeed(&tty, speed) != 0 || cfsetospeed(&tty, speed) != 0 ||
        ::tcsetattr(fd.get(), TCSANOW, &tty) != 0) {
        why = failure("cannot set up the line of", path);
        return RawIO::FileDescriptor();
    }
    why.clear();
    return fd;
}

}  // namespace bw_station
