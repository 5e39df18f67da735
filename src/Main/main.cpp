// The entry: identify the hub, then take the first-boot or the normal-boot road, then wait.
#include <string>

#include "lib/prism/Model.hpp"
#include "setup/Setup.hpp"

int main() {
    using namespace bw_selftest;

    const std::string id = readModelId();
    printModelLine(id);
    const Model model = parseModel(id);
    if (checkModelSupported(model)) {
        // The LEDs and the two roads come with the run-control work.
    }
    awaitTermination();
}
