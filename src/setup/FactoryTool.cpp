// Factory provisioning: the hub's identity files, the maker's factory tool and the erasure
// of the registration key.
#include "setup/FactoryTool.hpp"

#include <iostream>

#include "util/run.hpp"

namespace bw_selftest {

namespace {

constexpr const char* kCertificate = "/var/lib/brambleway/cloud-link/awsiot.crt";
constexpr const char* kRegistrationKey = "/usr/local/share/brambleway/registration.key";

// A hub that holds its cloud certificate is provisioned already: keep its identity.
bool provision() {
    if (checkExists(kCertificate)) {
        std::cout << "Skipping factory tool..." << std::endl;
        return true;
    }
    return runCommandWithRetries("bw-drop bw-selftest factory-tool", kRetryDelaySeconds, kRetries);
}

// The key lets anyone register a hub as this one: it must not outlive provisioning.
bool eraseKey() {
    if (!checkExists(kRegistrationKey)) {
        std::cout << "Skipping key file erase..." << std::endl;
        return true;
    }
    return runCommand("shred -zvun 3 /usr/local/share/brambleway/registration.key") &&
           runCommand("rm -fv /usr/local/share/brambleway/registration.key");
}

bool runSteps() {
    return runCommand("touch /var/lib/brambleway/hub/hub_id /var/lib/brambleway/hub/hub_id.sig") &&
           runCommand(
               "chown bw-selftest:bw-selftest /var/lib/brambleway/hub/hub_id "
               "/var/lib/brambleway/hub/hub_id.sig") &&
           provision() && eraseKey() &&
           runCommand(
               "chown root:root /var/lib/brambleway/hub/hub_id "
               "/var/lib/brambleway/hub/hub_id.sig") &&
           runCommand("sync");
}

}  // namespace

bool runFactoryTool() {
    std::cout << "Running factory tool. \n" << std::endl;
    if (runSteps()) {
        return true;
    }
    std::cout << "\n FAIL" << std::endl;
    return false;
}

}  // namespace bw_selftest
