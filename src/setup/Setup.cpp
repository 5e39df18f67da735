// Run control around the tests: the model table, the steps that change the system before
// and after the tests, and the final wait.
#include "setup/Setup.hpp"

#include <unistd.h>

#include <iostream>

#include "util/run.hpp"

namespace bw_selftest {

namespace {

struct ModelId {
    CStringLiteralView id;
    Model model;
};

constexpr ModelId kModelIds[] = {
    {"prism-1v1-eu", Model::prism_1v1_eu},
    {"prism-1v0-eu", Model::prism_1v0_eu},
    {"prism-1v0-1-eu", Model::prism_1v0_1_eu},
    {"crate-1v0-b-eu", Model::crate_1v0_b_eu},
    {"prism-1v1-eu-proto-1", Model::prism_1v1_eu_proto_1},
    {"prism-1v1-eu-proto-2", Model::prism_1v1_eu_proto_2},
};

constexpr unsigned kLedGpios[] = {11, 12, 13};

constexpr const char* kPreHook = "/usr/local/share/bw-selftest/pre-hook";
constexpr const char* kPostHook = "/usr/local/share/bw-selftest/post-hook";
constexpr const char* kKeepSshMarker = "/var/lib/brambleway/.keepssh";

constexpr const char* kStopCommands[] = {
    "/usr/bin/svc -d /etc/service/mainbus",     "/usr/bin/svc -d /etc/service/zwave-svc",
    "/usr/bin/svc -d /etc/service/zipgateway",  "/bin/systemctl stop zigbee-svc",
    "/usr/bin/svc -d /etc/service/pkg-upgrade", "/usr/bin/svc -d /etc/service/relaylink",
};

// The marker goes first: once it is gone the next boot is an ordinary one, even if a later
// step fails and leaves some services disabled.
constexpr const char* kFilesToRemove[] = {
    kFirstBootMarker,
    "/etc/service/mainbus/down",
    "/etc/service/zipgateway/down",
    "/etc/service/zwave-svc/down",
    "/etc/service/pkg-upgrade/down",
    "/etc/service/relaylink/down",
};

bool runHook(const char* path) {
    // Only a hook known to be absent is skipped: one whose presence cannot be tested is
    // run all the same, and fails in the shell.
    return checkAbsent(path) || runCommand(path);
}

bool applySshPolicy() {
    if (checkExists(kKeepSshMarker)) {
        std::cout << "Keeping SSH as it is." << std::endl;
        return true;
    }
    return runCommand("/usr/sbin/update-rc.d ssh disable");
}

bool runNormalBootSteps() {
    for (const char* path : kFilesToRemove) {
        if (!removeIfPresent(path)) {
            return false;
        }
    }
    return runCommand("/bin/systemctl enable zigbee-svc") && applySshPolicy() &&
           runCommand("/bin/sync");
}

}  // namespace

Model parseModel(TemporaryStringView id) {
    for (const ModelId& entry : kModelIds) {
        if (id == entry.id) {
            return entry.model;
        }
    }
    return Model::unsupported;
}

void printModelLine(TemporaryStringView id) {
    std::cout << "corenode.model = \"" << id << "\"" << std::endl;
}

bool checkModelSupported(Model model) {
    if (model != Model::unsupported) {
        return true;
    }
    std::cout << "Model not supported. Awaiting termination... " << std::endl;
    return false;
}

LEDs makeLEDs(Model model) {
    return hasFrontLeds(model) ? LEDs(kLedGpios[0], kLedGpios[1], kLedGpios[2]) : LEDs();
}

bool runPreHook() {
    return runHook(kPreHook);
}

bool runPostHook() {
    return runHook(kPostHook);
}

bool stopServices() {
    for (const char* command : kStopCommands) {
        if (!runCommand(command)) {
            return false;
        }
    }
    return true;
}

bool prepareNormalBoot() {
    std::cout << "Preparing normal boot. \n " << std::endl;
    if (runNormalBootSteps()) {
        return true;
    }
    std::cout << "\n FAIL" << std::endl;
    return false;
}

bool powerOffForModel(Model model) {
    if (!powersOffAfterPass(model)) {
        return true;
    }
    return runCommand("/sbin/poweroff");
}

void awaitTermination() {
    // No handler is installed, so pause() only ends with the process itself.
    for (;;) {
        ::pause();
    }
}

}  // namespace bw_selftest
