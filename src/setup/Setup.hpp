// Run control around the tests: the model table, the steps that change the system before
// and after the tests, and the final wait.
#pragma once

#include "lib/prism/Model.hpp"
#include "lib/prism/leds.hpp"
#include "lib/util/StringView.hpp"

namespace bw_selftest {

// Present until a first-boot run has passed completely; only its existence counts.
constexpr const char* kFirstBootMarker = "/var/lib/brambleway/.firstboot";

// The model with exactly this id (same length, same bytes), else Model::unsupported.
Model parseModel(TemporaryStringView id);

// Prints: corenode.model = "<id>"
void printModelLine(TemporaryStringView id);

// Prints the not-supported line; true when the model is supported.
bool checkModelSupported(Model model);

// The front LEDs of the model: GPIO 11, 12 and 13 on the prism hubs, none on the others.
LEDs makeLEDs(Model model);

// The site's optional hooks: a missing hook succeeds, a present one must exit with 0.
[[nodiscard]] bool runPreHook();
[[nodiscard]] bool runPostHook();

// Stops the hub's application services for this boot; stops at the first failure.
[[nodiscard]] bool stopServices();

// Turns a hub that passed into an ordinary one: marker and down-files removed, the Zigbee
// unit enabled, the SSH policy applied, the disks synced.
[[nodiscard]] bool prepareNormalBoot();

// Powers off the one model that must be off after its test; true for every other model.
[[nodiscard]] bool powerOffForModel(Model model);

// Blocks in pause() for ever; a terminating signal ends the process.
[[noreturn]] void awaitTermination();

}  // namespace bw_selftest
