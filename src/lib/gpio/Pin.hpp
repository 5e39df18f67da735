// One GPIO line with its value file open: switch an output, read an input, wait for an edge.
#pragma once

#include <cstdint>

#include "lib/gpio/PinExporter.hpp"
#include "lib/rawio/FileDescriptor.hpp"
#include "lib/rawio/RawIO.hpp"

namespace bw_selftest {

// The interrupt edge a line's value file reports through poll.
enum class Edge : int {
    none = 0,
    rising = 1,
    falling = 2,
    both = 3,
};

class Pin {
  public:
    // Empty: no line, no value file; every operation fails without a system call.
    Pin() noexcept = default;
    // As PinExporter; once configured, the value file is opened (read-write for an output,
    // read-only for an input). A failed open leaves the pin closed and reports nothing.
    Pin(std::uint32_t gpio, bool output, int initialLevel, unsigned permissionBudgetMs);
    Pin(Pin&&) noexcept = default;
    Pin& operator=(Pin&&) = delete;
    // Members go in reverse: the value file is closed before the exporter may unexport.
    ~Pin() = default;

    bool isOpen() const { return value_.isValid(); }
    void release() { exporter_.release(); }

    // One write of "1" or "0" where the file stands; true when exactly that byte went out.
    [[nodiscard]] bool setValue(bool on);
    // The current level, read from the start of the file; `level` is untouched on failure.
    [[nodiscard]] bool getValue(bool& level);
    [[nodiscard]] bool setEdge(Edge edge);
    // OK on an edge, TimedOut, or PollFailed (also for a closed pin). A negative timeout
    // waits without limit.
    [[nodiscard]] RawIO::Result waitForEdge(int timeoutMs);

  private:
    PinExporter exporter_;
    RawIO::FileDescriptor value_;
};

}  // namespace bw_selftest
