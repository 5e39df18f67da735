// The hub's EnOcean radio module on its UART, as a piece of simulated hardware.
#pragma once

#include "hub/Scenario.hpp"
#include "uart/Module.hpp"

namespace bw_sim {

class EnOceanModule : public HubDevice {
  public:
    explicit EnOceanModule(const uart::Scenario& scenario) : module_(scenario) {}

    uart::Module& module() { return module_; }

  private:
    uart::Module module_;
};

}  // namespace bw_sim
