// The entry: identify the hub, take the first-boot or the normal-boot road, then wait until
// the service manager ends the process.
#include "Main/entry.hpp"
#include "setup/Setup.hpp"

int main() {
    bw_selftest::runCatchingAll(bw_selftest::runSequence);
    bw_selftest::awaitTermination();
}
