// sysfs GPIO semantics: export and unexport, direction, value and edge, each write logged.
#include "hub/GpioFs.hpp"

#include <cerrno>
#include <cstdlib>

#include "hub/SysfsText.hpp"

namespace bw_sim {

namespace {

constexpr mode_t kStoreOnly = 0200;
constexpr mode_t kAttribute = 0644;
constexpr mode_t kDirectory = 0755;
constexpr const char* kLineFiles[] = {"direction", "edge", "value"};
constexpr const char* kEdges[] = {"none", "rising", "falling", "both"};

bool isLineFile(const std::string& name) {
    for (const char* file : kLineFiles) {
        if (name == file) {
            return true;
        }
    }
    return false;
}

}  // namespace

GpioFs::GpioFs(const GpioOptions& options, Clock::time_point origin)
    : options_(options), origin_(origin) {
    for (const auto& [gpio, state] : options_.exported) {
        Line line;
        line.output = state.output;
        line.value = state.output ? (state.value != 0 ? 1 : 0) : 0;
        line.exportedAt = origin;
        line.generation = ++generations_;
        exported_[gpio] = line;
    }
}

GpioLine GpioFs::line(unsigned gpio) const {
    std::lock_guard<std::mutex> lock(mutex_);
    GpioLine state;
    const auto found = exported_.find(gpio);
    if (found == exported_.end()) {
        return state;
    }
    const Line& line = found->second;
    state.exported = true;
    state.direction = line.output ? "out" : "in";
    const auto level = inputLevels_.find(gpio);
    state.value = line.output ? line.value : (level != inputLevels_.end() ? level->second : 0);
    state.edge = line.edge;
    return state;
}

std::vector<GpioWrite> GpioFs::timeline() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timeline_;
}

void GpioFs::setInputLevel(unsigned gpio, int level) {
    std::lock_guard<std::mutex> lock(mutex_);
    inputLevels_[gpio] = level != 0 ? 1 : 0;
}

bool GpioFs::parseLinePath(const std::string& path, LinePath& out) const {
    if (path.compare(0, 4, "gpio") != 0) {
        return false;
    }
    const std::size_t slash = path.find('/');
    const std::string number = path.substr(4, slash == std::string::npos ? slash : slash - 4);
    if (number.empty() || number.size() > 5 ||
        number.find_first_not_of("0123456789") != std::string::npos ||
        (number.size() > 1 && number[0] == '0')) {
        return false;
    }
    out.gpio = static_cast<unsigned>(std::strtoul(number.c_str(), nullptr, 10));
    out.file = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    return exported_.count(out.gpio) != 0 && (out.file.empty() || isLineFile(out.file));
}

int GpioFs::attributes(const std::string& path, Attributes& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (path.empty()) {
        out = {true, kDirectory};
        return 0;
    }
    if (path == "export" || path == "unexport") {
        out = {false, kStoreOnly};
        return 0;
    }
    LinePath linePath;
    if (!parseLinePath(path, linePath)) {
        return ENOENT;
    }
    out = linePath.file.empty() ? Attributes{true, kDirectory} : Attributes{false, kAttribute};
    return 0;
}

int GpioFs::list(const std::string& directory, std::vector<std::string>& names) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (directory.empty()) {
        names = {"export", "unexport"};
        for (const auto& entry : exported_) {
            names.push_back("gpio" + std::to_string(entry.first));
        }
        return 0;
    }
    LinePath linePath;
    if (!parseLinePath(directory, linePath)) {
        return ENOENT;
    }
    if (!linePath.file.empty()) {
        return ENOTDIR;
    }
    names.assign(std::begin(kLineFiles), std::end(kLineFiles));
    return 0;
}

int GpioFs::open(const std::string& path, std::uint64_t& handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    LinePath linePath;
    handle = 0;
    if (!parseLinePath(path, linePath)) {
        return 0;
    }
    handle = exported_[linePath.gpio].generation;
    return faultOf(linePath, GpioFault::Operation::open);
}

int GpioFs::faultOf(const LinePath& linePath, GpioFault::Operation operation) const {
    for (const GpioFault& fault : options_.faults) {
        if (fault.gpio == linePath.gpio && fault.file == linePath.file &&
            fault.operation == operation) {
            return fault.error;
        }
    }
    return 0;
}

int GpioFs::read(const std::string& path, std::uint64_t handle, std::string& content) {
    std::lock_guard<std::mutex> lock(mutex_);
    LinePath linePath;
    if (!parseLinePath(path, linePath) || linePath.file.empty()) {
        return EIO;
    }
    const Line& line = exported_[linePath.gpio];
    if (line.generation != handle) {
        return ENODEV;  // the attribute went away with an unexport
    }
    if (const int fault = faultOf(linePath, GpioFault::Operation::read)) {
        return fault;
    }
    if (linePath.file == "direction") {
        content = line.output ? "out\n" : "in\n";
    } else if (linePath.file == "value") {
        const auto level = inputLevels_.find(linePath.gpio);
        const int value =
            line.output ? line.value : (level != inputLevels_.end() ? level->second : 0);
        content = value != 0 ? "1\n" : "0\n";
    } else {
        content = line.edge + "\n";
    }
    return 0;
}

int GpioFs::write(const std::string& path, std::uint64_t handle, const std::string& data) {
    GpioWrite write;
    std::function<void(const GpioWrite&)> observer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int error = writeLocked(path, handle, data);
        const auto at =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - origin_);
        timeline_.push_back({at, path, data, error});
        write = timeline_.back();
        observer = observer_;
    }
    if (observer) {
        observer(write);
    }
    return write.error;
}

void GpioFs::onWrite(std::function<void(const GpioWrite&)> observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    observer_ = std::move(observer);
}

int GpioFs::writeLocked(const std::string& path, std::uint64_t handle, const std::string& data) {
    if (path == "export") {
        return exportLine(data);
    }
    if (path == "unexport") {
        return unexportLine(data);
    }
    LinePath linePath;
    if (!parseLinePath(path, linePath) || linePath.file.empty()) {
        return ENODEV;
    }
    Line& line = exported_[linePath.gpio];
    if (line.generation != handle) {
        return ENODEV;
    }
    if (const int fault = faultOf(linePath, GpioFault::Operation::write)) {
        return fault;
    }
    return writeAttribute(line, linePath.file, data);
}

int GpioFs::exportLine(const std::string& data) {
    long number = 0;
    if (!parseKernelLong(data, number) || number < 0 || number >= options_.lines) {
        return EINVAL;
    }
    const auto gpio = static_cast<unsigned>(number);
    const auto scripted = options_.exportErrors.find(gpio);
    if (scripted != options_.exportErrors.end()) {
        return scripted->second;
    }
    if (exported_.count(gpio) != 0) {
        return EBUSY;
    }
    Line line;
    line.exportedAt = Clock::now();
    line.exportedByWrite = true;
    line.generation = ++generations_;
    exported_[gpio] = line;
    return 0;
}

int GpioFs::unexportLine(const std::string& data) {
    long number = 0;
    if (!parseKernelLong(data, number) || number < 0 || number >= options_.lines) {
        return EINVAL;
    }
    if (exported_.erase(static_cast<unsigned>(number)) == 0) {
        return EINVAL;
    }
    return 0;
}

int GpioFs::writeAttribute(Line& line, const std::string& file, const std::string& data) {
    if (file == "direction") {
        if (line.exportedByWrite &&
            Clock::now() - line.exportedAt < options_.directionDeniedAfterExport) {
            return EACCES;
        }
        if (sysfsEquals(data, "in")) {
            line.output = false;
        } else if (sysfsEquals(data, "out") || sysfsEquals(data, "low")) {
            line.output = true;
            line.value = 0;
        } else if (sysfsEquals(data, "high")) {
            line.output = true;
            line.value = 1;
        } else {
            return EINVAL;
        }
        return 0;
    }
    if (file == "value") {
        if (!line.output) {
            return EPERM;
        }
        long value = 0;
        if (!parseKernelLong(data, value)) {
            return EINVAL;
        }
        line.value = value != 0 ? 1 : 0;
        return 0;
    }
    for (const char* edge : kEdges) {
        if (sysfsEquals(data, edge)) {
            line.edge = edge;
            return 0;
        }
    }
    return EINVAL;
}

}  // namespace bw_sim
