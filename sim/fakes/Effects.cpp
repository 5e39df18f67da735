// What the fake programs do to the files of the hub.
#include "fakes/Effects.hpp"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace bw_sim {

namespace {

struct CommandLine {
    std::string flags;  // every short option letter seen
    std::vector<std::string> operands;
};

// Splits arguments as getopt would: clustered short options, some taking a value, and
// "--" ending the options.
CommandLine parse(const std::vector<std::string>& args, const char* optionsWithValue) {
    CommandLine parsed;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            continue;  // long options change nothing these fakes do
        }
        for (std::size_t k = 1; k < arg.size(); ++k) {
            parsed.flags += arg[k];
            if (std::strchr(optionsWithValue, arg[k]) != nullptr) {
                if (k + 1 == arg.size()) {
                    ++i;  // the value is the next argument
                }
                break;
            }
        }
    }
    return parsed;
}

bool has(const CommandLine& line, char flag) {
    return line.flags.find(flag) != std::string::npos;
}

int complain(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
}

std::string why() {
    return std::strerror(errno);
}

int touch(const std::vector<std::string>& args) {
    int status = 0;
    for (const std::string& file : parse(args, "drt").operands) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0 || ::futimens(fd, nullptr) != 0) {
            status = complain("touch: cannot touch '" + file + "': " + why());
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    return status;
}

int rm(const std::vector<std::string>& args) {
    const CommandLine line = parse(args, "");
    int status = 0;
    for (const std::string& file : line.operands) {
        if (::unlink(file.c_str()) != 0 && !(errno == ENOENT && has(line, 'f'))) {
            status = complain("rm: cannot remove '" + file + "': " + why());
        }
    }
    return status;
}

// Overwrites with zeros (the last pass the hubs ask for) and, with -u, removes.
int shred(const std::vector<std::string>& args) {
    const CommandLine line = parse(args, "ns");
    int status = 0;
    for (const std::string& file : line.operands) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            status = complain("shred: " + file + ": failed to open for writing: " + why());
            continue;
        }
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            const std::string zeros(static_cast<std::size_t>(st.st_size), '\0');
            if (::pwrite(fd, zeros.data(), zeros.size(), 0) != static_cast<ssize_t>(zeros.size())) {
                status = complain("shred: " + file + ": error writing: " + why());
            }
        }
        ::close(fd);
        if (has(line, 'u') && ::unlink(file.c_str()) != 0) {
            status = complain("shred: " + file + ": failed to remove: " + why());
        }
    }
    return status;
}

bool lookUp(const std::string& owner, uid_t& uid, gid_t& gid) {
    const std::size_t colon = owner.find(':');
    const std::string user = owner.substr(0, colon);
    const passwd* account = ::getpwnam(user.c_str());
    if (account == nullptr) {
        return false;
    }
    uid = account->pw_uid;
    gid = static_cast<gid_t>(-1);
    if (colon == std::string::npos) {
        return true;
    }
    const std::string groupName = owner.substr(colon + 1);
    if (groupName.empty()) {
        gid = account->pw_gid;
        return true;
    }
    const group* found = ::getgrnam(groupName.c_str());
    if (found == nullptr) {
        return false;
    }
    gid = found->gr_gid;
    return true;
}

int chown(const std::vector<std::string>& args) {
    const CommandLine line = parse(args, "");
    if (line.operands.size() < 2) {
        return complain("chown: missing operand");
    }
    uid_t uid = 0;
    gid_t gid = 0;
    if (!lookUp(line.operands[0], uid, gid)) {
        return complain("chown: invalid user: '" + line.operands[0] + "'");
    }
    int status = 0;
    for (std::size_t i = 1; i < line.operands.size(); ++i) {
        const std::string& file = line.operands[i];
        // EINVAL: a hub made without root lives in a user namespace where only one id
        // exists; there the file keeps its owner.
        if (::chown(file.c_str(), uid, gid) != 0 && errno != EINVAL) {
            status = complain("chown: cannot access '" + file + "': " + why());
        }
    }
    return status;
}

// Writing the system time into the chip makes a clock that held no valid time readable.
int hwclock(const std::vector<std::string>& args) {
    bool writes = false;
    for (const std::string& arg : args) {
        writes = writes || arg == "-w" || arg == "--systohc";
    }
    if (!writes) {
        return 0;
    }
    if (::access(kRtcDevicePath, F_OK) != 0) {
        return complain("hwclock: Cannot access the Hardware Clock via any known method.");
    }
    ::rmdir(kSinceEpochPath);  // how the hub shows a clock without a valid time
    const int fd = ::open(kSinceEpochPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0444);
    if (fd < 0) {
        return complain(std::string("hwclock: ") + kSinceEpochPath + ": " + why());
    }
    const std::string now = std::to_string(static_cast<long long>(std::time(nullptr))) + "\n";
    const bool written = ::write(fd, now.data(), now.size()) == static_cast<ssize_t>(now.size());
    ::close(fd);
    return written ? 0 : complain("hwclock: write failed");
}

int needsDevice(const std::string& who, const std::string& device) {
    if (::access(device.c_str(), F_OK) == 0) {
        return 0;
    }
    return complain(who + ": cannot open " + device + ": " + why());
}

int zwaveFlash(const std::vector<std::string>& args) {
    const CommandLine line = parse(args, "");
    if (line.operands.empty()) {
        return complain("bw-zw-flash: no device given");
    }
    return needsDevice("bw-zw-flash", line.operands.back());
}

int drop(const std::vector<std::string>& args) {
    if (args.size() >= 3 && args[2] == "zigbee-selftest") {
        return needsDevice("bw-drop: zigbee-selftest", kZigbeeDevicePath);
    }
    return 0;
}

}  // namespace

int applyEffect(const std::string& program, const std::vector<std::string>& args) {
    if (program == "touch") {
        return touch(args);
    }
    if (program == "rm") {
        return rm(args);
    }
    if (program == "shred") {
        return shred(args);
    }
    if (program == "chown") {
        return chown(args);
    }
    if (program == "hwclock") {
        return hwclock(args);
    }
    if (program == "bw-zw-flash") {
        return zwaveFlash(args);
    }
    if (program == "bw-drop") {
        return drop(args);
    }
    return 0;
}

}  // namespace bw_sim
