// The stages after the tests: factory provisioning, the post-hook's successor and the
// normal-boot preparation, up to the end of a passed run.
#include <array>
#include <string>
#include <vector>

#include "record/Reader.hpp"
#include "record/Suites.hpp"
#include "record/Verdicts.hpp"

namespace bw_record::reading {

namespace {

const std::string kFinalSync = "/bin/sync";
const std::string kPoweroff = "/sbin/poweroff";
constexpr int kRetries = 3;

const std::array<const char*, 6> kRemovals = {
    "/var/lib/brambleway/.firstboot", "/etc/service/mainbus/down",
    "/etc/service/zipgateway/down",   "/etc/service/zwave-svc/down",
    "/etc/service/pkg-upgrade/down",  "/etc/service/relaylink/down"};

const std::string kHubFiles = "/var/lib/brambleway/hub/hub_id /var/lib/brambleway/hub/hub_id.sig";
const std::string kCertificate = "/var/lib/brambleway/cloud-link/awsiot.crt";
const std::string kKey = "/usr/local/share/brambleway/registration.key";

bool startedFailureLine(const std::string& rest) {
    if (rest == "\n") {
        return true;
    }
    for (std::size_t n = 2; n < kStepFailed.size(); ++n) {
        if (endsWith(rest, kStepFailed.substr(0, n))) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool Reader::runFactoryTool() {
    openStep(factoryTool);
    const std::string chownRoot = "chown root:root " + kHubFiles;
    std::string suffix;
    if (!fixed("Running factory tool. \n\n") ||
        !command("touch " + kHubFiles, running("chown bw-selftest:bw-selftest " + kHubFiles)) ||
        !command("chown bw-selftest:bw-selftest " + kHubFiles, "Checking " + kCertificate) ||
        !checked("Checking " + kCertificate, suffix)) {
        return false;
    }
    if (suffix == kOk
            ? !fixed("Skipping factory tool...\n")
            : !command("bw-drop bw-selftest factory-tool", "Checking " + kKey, kRetries)) {
        return false;
    }
    if (!checked("Checking " + kKey, suffix)) {
        return false;
    }
    if (suffix == kOk) {
        if (!command("shred -zvun 3 " + kKey, running("rm -fv " + kKey)) ||
            !command("rm -fv " + kKey, running(chownRoot))) {
            return false;
        }
    } else if (!fixed("Skipping key file erase...\n")) {
        return false;
    }
    if (!command(chownRoot, running("sync")) || !command("sync", "Checking " + kPostHook)) {
        return false;
    }
    return passed();
}

bool Reader::prepareNormalBoot() {
    openStep(preparation);
    if (!fixed(kPreparing)) {
        return false;
    }
    std::string suffix;
    for (const char* path : kRemovals) {
        if (!checked(std::string("Removing ") + path, suffix)) {
            return false;
        }
        if (suffix != kOk && suffix != kAbsent) {
            return fixed(kStepFailed) && failed(where() + " failed");
        }
    }
    if (!command("/bin/systemctl enable zigbee-svc", "Checking /var/lib/brambleway/.keepssh") ||
        !checked("Checking /var/lib/brambleway/.keepssh", suffix)) {
        return false;
    }
    if (suffix == kOk ? !fixed("Keeping SSH as it is.\n")
                      : !command("/usr/sbin/update-rc.d ssh disable", running(kFinalSync))) {
        return false;
    }
    return finalSync();
}

// The last command of a passed run; what follows it is its output (and the poweroff's),
// unless the failure line comes.
bool Reader::finalSync() {
    if (!fixed(running(kFinalSync))) {
        return false;
    }
    const bool poweroff = powersOff(record_.model);
    const std::size_t syncOutput = pos_;
    const std::string poweroffLine = poweroff ? running(kPoweroff) : std::string();
    const std::size_t which =
        poweroff ? output({kStepFailed, poweroffLine}) : output({kStepFailed});
    if (which == 0) {
        pos_ += kStepFailed.size();
        return failed(where() + " failed");
    }
    if (poweroff && which != 1) {
        return cut();
    }
    const std::string rest = log_.substr(poweroff ? pos_ : syncOutput);
    // The failure line begun and cut, or a report after the end: never a pass.
    if (!poweroff && startedFailureLine(rest)) {
        return cut();
    }
    if (rest.find(verdictCore(true)) != std::string::npos ||
        rest.find(verdictCore(false)) != std::string::npos) {
        return failed("a test verdict follows the end of the run");
    }
    close(Outcome::passed);  // the poweroff and what it prints are not the preparation's
    record_.poweroffStarted = poweroff;
    record_.verdict = Verdict::passed;
    record_.reason = "every test passed and every step completed";
    return true;
}

}  // namespace bw_record::reading
