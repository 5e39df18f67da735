// The program's run sequence, and the guard that keeps the program waiting whatever happens.
#pragma once

namespace bw_selftest {

// The model line and check, the LEDs, and the first-boot or the normal-boot road.
void runSequence();

// Runs `run`; whatever it throws is reported in one line on standard error and goes no
// further, so that the caller still reaches its wait.
void runCatchingAll(void (*run)());

}  // namespace bw_selftest
