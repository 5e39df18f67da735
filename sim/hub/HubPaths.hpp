// The hub's fixed paths that the simulator lays out.
#pragma once

namespace bw_sim {

constexpr const char* kModelDirectory = "/usr/local/share/brambleway";
constexpr const char* kModelFile = "/usr/local/share/brambleway/corenode.model";
constexpr const char* kRegistrationKey = "/usr/local/share/brambleway/registration.key";
constexpr const char* kHookDirectory = "/usr/local/share/bw-selftest";
constexpr const char* kPreHook = "/usr/local/share/bw-selftest/pre-hook";
constexpr const char* kPostHook = "/usr/local/share/bw-selftest/post-hook";

constexpr const char* kStateDirectory = "/var/lib/brambleway";
constexpr const char* kFirstBootMarker = "/var/lib/brambleway/.firstboot";
constexpr const char* kKeepSshMarker = "/var/lib/brambleway/.keepssh";
constexpr const char* kHubDirectory = "/var/lib/brambleway/hub";
constexpr const char* kHubId = "/var/lib/brambleway/hub/hub_id";
constexpr const char* kHubIdSignature = "/var/lib/brambleway/hub/hub_id.sig";
constexpr const char* kCertificate = "/var/lib/brambleway/cloud-link/awsiot.crt";
constexpr const char* kSelftestDirectory = "/var/lib/brambleway/bw-selftest";

constexpr const char* kServiceDirectory = "/etc/service";
constexpr const char* kDaemontoolsServices[] = {"mainbus", "zwave-svc", "zipgateway", "pkg-upgrade",
                                                "relaylink"};

constexpr const char* kSysClass = "/sys/class";
constexpr const char* kGpioDirectory = "/sys/class/gpio";
constexpr const char* kI2cAdapter = "/sys/class/i2c-adapter/i2c-1";
constexpr const char* kRtcDirectory = "/sys/class/rtc/rtc0";
constexpr const char* kNetDirectory = "/sys/class/net";

constexpr const char* kDeviceDirectory = "/dev/brambleway";
constexpr const char* kZwaveDevice = "/dev/brambleway/Z-Wave";
constexpr const char* kZigbeeDevice = "/dev/brambleway/Zigbee";

// The self-test account that the factory step hands the identity files to.
constexpr const char* kSelftestAccount = "bw-selftest";
constexpr unsigned kSelftestId = 990;

// Every program the hub replaces, where the program runs it (the search path of a shell
// without environment finds the others in /usr/bin or /usr/sbin).
constexpr const char* kFakePrograms[] = {
    "/usr/bin/svc",         "/bin/systemctl", "/usr/sbin/update-rc.d", "/sbin/poweroff",
    "/usr/bin/bw-zw-flash", "/bin/sync",      "/usr/bin/touch",        "/usr/bin/chown",
    "/usr/bin/bw-drop",     "/usr/bin/shred", "/usr/bin/rm",           "/usr/bin/sync",
    "/usr/sbin/hwclock"};

}  // namespace bw_sim
