// A pseudo-terminal standing in for the hub's UART: the program opens the slave at the
// UART's device path, the module simulator sits on the master.
#pragma once

#include <string>
#include <vector>

namespace bw_sim::uart {

class PseudoTerminal {
  public:
    // Master non-blocking; the slave is put in raw mode and held open here, so the line
    // never hangs up and nothing is echoed before the program configures it. Throws
    // std::runtime_error when no pseudo-terminal can be made.
    PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    // Removes the device entries it made, then closes both sides.
    ~PseudoTerminal();

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    // Makes the slave appear at `path` (inside a sandbox whose /dev is fresh). Throws when
    // that fails.
    void bindAt(const std::string& path);

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::vector<std::string> bound_;
};

}  // namespace bw_sim::uart
