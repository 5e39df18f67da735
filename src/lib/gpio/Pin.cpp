// The value and edge files of one GPIO line.
#include "lib/gpio/Pin.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <iterator>
#include <string>

#include "lib/gpio/paths.hpp"

namespace bw_selftest {

namespace {

constexpr const char* kEdgeTexts[] = {"none", "rising", "falling", "both"};

}  // namespace

Pin::Pin(std::uint32_t gpio, bool output, int initialLevel, unsigned permissionBudgetMs)
    : exporter_(gpio, output, initialLevel, permissionBudgetMs) {
    if (!exporter_.isConfigured()) {
        return;
    }
    // Close-on-exec: the hooks and tools started while the LEDs are lit must not inherit a
    // handle that can switch them.
    const int flags = (output ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    value_ = RawIO::FileDescriptor(::open(valuePath(gpio).c_str(), flags));
}

bool Pin::setValue(bool on) {
    if (!isOpen()) {
        return false;
    }
    return ::write(value_.get(), on ? "1" : "0", 1) == 1;
}

bool Pin::getValue(bool& level) {
    if (!isOpen() || ::lseek(value_.get(), 0, SEEK_SET) != 0) {
        return false;
    }
    char byte = 0;
    if (::read(value_.get(), &byte, 1) != 1 || (byte != '0' && byte != '1')) {
        return false;
    }
    level = byte == '1';
    return true;
}

bool Pin::setEdge(Edge edge) {
    const int index = static_cast<int>(edge);
    if (!exporter_.isConfigured() || index < 0 ||
        index >= static_cast<int>(std::size(kEdgeTexts))) {
        return false;
    }
    return RawIO::writeFile(edgePath(exporter_.gpio()).c_str(), kEdgeTexts[index]) ==
           RawIO::Result::OK;
}

RawIO::Result Pin::waitForEdge(int timeoutMs) {
    if (!isOpen()) {
        return RawIO::Result::PollFailed;
    }
    pollfd watched{value_.get(), POLLPRI, 0};
    switch (::poll(&watched, 1, timeoutMs)) {
        case 1:
            return RawIO::Result::OK;
        case 0:
            return RawIO::Result::TimedOut;
        default:
            return RawIO::Result::PollFailed;
    }
}

}  // namespace bw_selftest
