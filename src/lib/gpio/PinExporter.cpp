// Export, direction and unexport of one GPIO line through sysfs.
#include "lib/gpio/PinExporter.hpp"

#include <error.h>
#include <unistd.h>

#include <string>

#include "lib/gpio/paths.hpp"
#include "lib/rawio/RawIO.hpp"
#include "util/StringUtil.hpp"

namespace bw_selftest {

namespace {

using RawIO::Result;

// "out\n" and the like fit many times over.
constexpr std::size_t kDirectionReadMax = 32;
// Right after an export the direction file still belongs to root until udev has run its
// rule on the new line, so a refused write is retried in these steps.
constexpr unsigned kDirectionRetryStepMs = 7;

const char* wantedDirection(bool output, int initialLevel) {
    if (!output) {
        return "in";
    }
    if (initialLevel == 0) {
        return "low";
    }
    return initialLevel == 1 ? "high" : "out";
}

}  // namespace

PinExporter::PinExporter(std::uint32_t gpio, bool output, int initialLevel,
                         unsigned permissionBudgetMs)
    : gpio_(gpio) {
    const std::string direction = directionPath(gpio_);
    std::string current;
    Result result = RawIO::readFile(direction.c_str(), current, kDirectionReadMax);
    if (result == Result::DoesNotExist) {
        if (RawIO::writeFile(exportPath, std::to_string(gpio_)) != Result::OK) {
            ::error(0, 0, "GPIO: unable to export GPIO %u.", static_cast<unsigned>(gpio_));
            return;
        }
        exported_ = true;
        result = RawIO::readFile(direction.c_str(), current, kDirectionReadMax);
    }
    if (result != Result::OK) {
        return;
    }
    trimRight(current);
    const std::string wanted = wantedDirection(output, initialLevel);
    if (current == wanted) {
        configured_ = true;
        return;
    }
    result = RawIO::writeFile(direction.c_str(), wanted);
    while (result == Result::PermissionDenied && permissionBudgetMs >= kDirectionRetryStepMs) {
        ::usleep(kDirectionRetryStepMs * 1000);
        permissionBudgetMs -= kDirectionRetryStepMs;
        result = RawIO::writeFile(direction.c_str(), wanted);
    }
    configured_ = RawIO::reportError(result, direction.c_str());
}

PinExporter::PinExporter(PinExporter&& other) noexcept
    : gpio_(other.gpio_), exported_(other.exported_), configured_(other.configured_) {
    other.gpio_ = 0;
    other.exported_ = false;
    other.configured_ = false;
}

PinExporter::~PinExporter() {
    (void)unexport();  // nobody is left to tell; a failure has been reported
}

bool PinExporter::unexport() {
    if (!exported_) {
        return true;
    }
    if (RawIO::writeFile(unexportPath, std::to_string(gpio_)) != Result::OK) {
        ::error(0, 0, "GPIO: unable to unexport GPIO %u.", static_cast<unsigned>(gpio_));
        return false;
    }
    exported_ = false;
    configured_ = false;
    return true;
}

}  // namespace bw_selftest
