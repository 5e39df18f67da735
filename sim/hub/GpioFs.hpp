// The sysfs GPIO interface of the hub (/sys/class/gpio) with the kernel's rules, and a
// timestamped record of every write: the LED timeline.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "hub/VirtualFiles.hpp"

namespace bw_sim {

// A file operation on a line's attribute (direction, value or edge) that fails.
struct GpioFault {
    enum class Operation { open, read, write };

    unsigned gpio = 0;
    std::string file;
    Operation operation = Operation::write;
    int error = 0;
};

struct GpioOptions {
    struct Exported {
        bool output = false;
        int value = 0;
    };

    // Lines 0 to lines - 1 exist (the hub's SoC has 54).
    unsigned lines = 54;
    // Direction writes fail with EACCES this long after an export through the export file,
    // as they do on the hubs until udev has fixed the attributes' permissions.
    std::chrono::milliseconds directionDeniedAfterExport{0};
    // Exports of these lines fail with the given errno.
    std::map<unsigned, int> exportErrors;
    // Operations that fail with their errno (and change nothing) while the line is
    // exported.
    std::vector<GpioFault> faults;
    // Lines exported before the program starts.
    std::map<unsigned, Exported> exported;
};

// One write() to a file of the GPIO directory, accepted (error 0) or refused.
struct GpioWrite {
    std::chrono::microseconds at;  // since the hub was made
    std::string file;              // relative to /sys/class/gpio, e.g. "gpio11/value"
    std::string data;              // the bytes written
    int error = 0;                 // errno of the refusal
};

// The state of one line as the kernel would show it.
struct GpioLine {
    bool exported = false;
    std::string direction;  // "in" or "out"; empty when not exported
    int value = 0;
    std::string edge;  // "none", "rising", "falling" or "both"
};

class GpioFs : public VirtualFiles {
  public:
    using Clock = std::chrono::steady_clock;

    GpioFs(const GpioOptions& options, Clock::time_point origin);

    GpioLine line(unsigned gpio) const;
    std::vector<GpioWrite> timeline() const;
    // Called on the file system's thread after each write is recorded and before the
    // writer gets its answer, while the writer is still blocked in write().
    void onWrite(std::function<void(const GpioWrite&)> observer);
    // Drives an input line from outside, as a button or another chip would.
    void setInputLevel(unsigned gpio, int level);

    int attributes(const std::string& path, Attributes& out) override;
    int list(const std::string& directory, std::vector<std::string>& names) override;
    int open(const std::string& path, std::uint64_t& handle) override;
    int read(const std::string& path, std::uint64_t handle, std::string& content) override;
    int write(const std::string& path, std::uint64_t handle, const std::string& data) override;

  private:
    struct Line {
        bool output = false;
        int value = 0;
        std::string edge = "none";
        Clock::time_point exportedAt;
        bool exportedByWrite = false;
        // An open file of an earlier export must not reach a later one.
        std::uint64_t generation = 0;
    };

    // A path inside the directory of an exported line: its number and the file name.
    struct LinePath {
        unsigned gpio = 0;
        std::string file;  // empty for the directory itself
    };

    bool parseLinePath(const std::string& path, LinePath& out) const;
    int faultOf(const LinePath& linePath, GpioFault::Operation operation) const;
    int writeLocked(const std::string& path, std::uint64_t handle, const std::string& data);
    int exportLine(const std::string& data);
    int unexportLine(const std::string& data);
    int writeAttribute(Line& line, const std::string& file, const std::string& data);

    const GpioOptions options_;
    const Clock::time_point origin_;
    mutable std::mutex mutex_;
    std::map<unsigned, Line> exported_;
    std::map<unsigned, int> inputLevels_;
    std::uint64_t generations_ = 0;
    std::vector<GpioWrite> timeline_;
    std::function<void(const GpioWrite&)> observer_;
};

}  // namespace bw_sim
