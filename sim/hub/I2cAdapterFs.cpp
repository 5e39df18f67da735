// new_device and delete_device with the kernel's parsing and errors.
#include "hub/I2cAdapterFs.hpp"

#include <cerrno>
#include <cstdio>

namespace bw_sim {

namespace {

constexpr std::size_t kNameSize = 20;  // the kernel's I2C_NAME_SIZE, with its NUL
constexpr unsigned kLastAddress = 0x7f;
constexpr const char* kAdapterName = "bcm2835 (i2c@7e804000)\n";

// The kernel reads the address with sscanf("%hi%c"): any base, and nothing after it but
// one line feed.
bool parseAddress(const std::string& text, unsigned& address) {
    short value = 0;
    char end = 0;
    const int fields = std::sscanf(text.c_str(), "%hi%c", &value, &end);
    if (fields < 1 || (fields > 1 && end != '\n') || value < 0) {
        return false;
    }
    address = static_cast<unsigned>(value);
    return true;
}

}  // namespace

I2cAdapterFs::I2cAdapterFs(Clock::time_point origin, int refusal, Registered onRegistered)
    : origin_(origin), refusal_(refusal), onRegistered_(std::move(onRegistered)) {}

void I2cAdapterFs::addDevice(const std::string& name, unsigned address) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_[address] = name;
}

std::vector<I2cWrite> I2cAdapterFs::writes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

std::map<unsigned, std::string> I2cAdapterFs::devices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return devices_;
}

int I2cAdapterFs::attributes(const std::string& path, Attributes& out) {
    if (path.empty()) {
        out = {true, 0755};
    } else if (path == "new_device" || path == "delete_device") {
        out = {false, 0200};
    } else if (path == "name") {
        out = {false, 0444};
    } else {
        return ENOENT;
    }
    return 0;
}

int I2cAdapterFs::list(const std::string& directory, std::vector<std::string>& names) {
    if (!directory.empty()) {
        return ENOTDIR;
    }
    names = {"delete_device", "name", "new_device"};
    return 0;
}

int I2cAdapterFs::open(const std::string& /*path*/, std::uint64_t& handle) {
    handle = 0;
    return 0;
}

int I2cAdapterFs::read(const std::string& path, std::uint64_t /*handle*/, std::string& content) {
    if (path != "name") {
        return EIO;
    }
    content = kAdapterName;
    return 0;
}

int I2cAdapterFs::write(const std::string& path, std::uint64_t /*handle*/,
                        const std::string& data) {
    std::string name;
    unsigned address = 0;
    int error = EIO;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (path == "new_device") {
            error = newDevice(data, name, address);
        } else if (path == "delete_device") {
            error = deleteDevice(data);
        }
        const auto at =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - origin_);
        writes_.push_back({at, path, data, error});
    }
    if (error == 0 && !name.empty() && onRegistered_) {
        onRegistered_(name, address);
    }
    return error;
}

int I2cAdapterFs::newDevice(const std::string& data, std::string& name, unsigned& address) {
    if (refusal_ != 0) {
        return refusal_;
    }
    const std::size_t blank = data.find(' ');
    if (blank == std::string::npos || blank == 0 || blank > kNameSize - 1) {
        return EINVAL;
    }
    if (!parseAddress(data.substr(blank + 1), address) || address == 0 || address > kLastAddress) {
        return EINVAL;
    }
    if (devices_.count(address) != 0) {
        return EBUSY;
    }
    name = data.substr(0, blank);
    devices_[address] = name;
    return 0;
}

int I2cAdapterFs::deleteDevice(const std::string& data) {
    unsigned address = 0;
    if (!parseAddress(data, address)) {
        return EINVAL;
    }
    return devices_.erase(address) != 0 ? 0 : ENOENT;
}

}  // namespace bw_sim
