// The I2C adapter's sysfs directory (/sys/class/i2c-adapter/i2c-1): devices are registered
// by writing "NAME ADDRESS" to new_device, as on the hubs, where the RTC chip is declared so.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "hub/VirtualFiles.hpp"

namespace bw_sim {

struct I2cWrite {
    std::chrono::microseconds at;  // since the hub was made
    std::string file;              // "new_device" or "delete_device"
    std::string data;
    int error = 0;
};

class I2cAdapterFs : public VirtualFiles {
  public:
    using Clock = std::chrono::steady_clock;
    // Told of every device registered through new_device (its name and address).
    using Registered = std::function<void(const std::string& name, unsigned address)>;

    // `refusal`: when not 0, every write to new_device fails with it.
    I2cAdapterFs(Clock::time_point origin, int refusal, Registered onRegistered);

    // Declares a device that the kernel already knows at boot.
    void addDevice(const std::string& name, unsigned address);
    std::vector<I2cWrite> writes() const;
    // The registered devices by address.
    std::map<unsigned, std::string> devices() const;

    int attributes(const std::string& path, Attributes& out) override;
    int list(const std::string& directory, std::vector<std::string>& names) override;
    int open(const std::string& path, std::uint64_t& handle) override;
    int read(const std::string& path, std::uint64_t handle, std::string& content) override;
    int write(const std::string& path, std::uint64_t handle, const std::string& data) override;

  private:
    int newDevice(const std::string& data, std::string& name, unsigned& address);
    int deleteDevice(const std::string& data);

    const Clock::time_point origin_;
    const int refusal_;
    const Registered onRegistered_;
    mutable std::mutex mutex_;
    std::map<unsigned, std::string> devices_;
    std::vector<I2cWrite> writes_;
};

}  // namespace bw_sim
