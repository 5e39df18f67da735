// Makes one GPIO line appear in sysfs with the wanted direction, and undoes only the export
// that it did itself.
#pragma once

#include <cstdint>

namespace bw_selftest {

class PinExporter {
  public:
    // Empty: touches no file.
    PinExporter() noexcept = default;
    // Exports the line if it is not there yet and sets its direction: "in" for an input,
    // "low" / "high" for an output at level 0 / 1, "out" for any other level. Direction
    // writes refused for lack of permission are retried 7 ms apart while at least 7 of
    // `permissionBudgetMs` are left. Never throws for a failed file operation; the outcome
    // is isConfigured().
    PinExporter(std::uint32_t gpio, bool output, int initialLevel, unsigned permissionBudgetMs);
    PinExporter(const PinExporter&) = delete;
    PinExporter& operator=(const PinExporter&) = delete;
    // The export debt moves along; the source is left empty.
    PinExporter(PinExporter&& other) noexcept;
    PinExporter& operator=(PinExporter&&) = delete;
    // Unexports if this object exported the line and was not released.
    ~PinExporter();

    std::uint32_t gpio() const { return gpio_; }
    bool isConfigured() const { return configured_; }
    // The line stays exported for good: neither unexport() nor destruction will touch it.
    void release() { exported_ = false; }
    // True when nothing is owed or the unexport write succeeded.
    [[nodiscard]] bool unexport();

  private:
    std::uint32_t gpio_ = 0;
    bool exported_ = false;
    bool configured_ = false;
};

}  // namespace bw_selftest
