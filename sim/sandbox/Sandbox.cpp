// Private mount namespaces and the mounts that stand in for the hub's fixed paths.
#include "sandbox/Sandbox.hpp"

#include "sandbox/ChildRun.hpp"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace bw_sim {

namespace {

using detail::runChild;
using detail::systemError;
using detail::writeAll;

constexpr uid_t kNobody = 65534;
// The sandbox's own scratch space: a tmpfs detached from every path, reached only through
// a descriptor, so that it hides nothing (the build tree may live anywhere, /tmp included)
// and the program under test never sees it.
std::string& scratchRoot() {
    static std::string root;
    return root;
}

bool writeProcFile(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = writeAll(fd, text.data(), text.size());
    ::close(fd);
    return ok;
}

bool& sandboxed() {
    static bool inside = false;
    return inside;
}

std::vector<std::string>& writableRoots() {
    static std::vector<std::string> roots;
    return roots;
}

void overlay(const std::string& directory);

std::string enterNamespace() {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0) {
        if (::unshare(CLONE_NEWNS) != 0) {
            return systemError("unshare(CLONE_NEWNS)");
        }
    } else {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return systemError("unshare(CLONE_NEWUSER | CLONE_NEWNS)");
        }
        if (!writeProcFile("/proc/self/setgroups", "deny") ||
            !writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            return systemError("writing the user namespace maps");
        }
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return systemError("making / private");
    }
    // The scratch tmpfs goes on /tmp and the host's /tmp is bound back over it at once:
    // the scratch stays mounted in this namespace, reached only through its descriptor.
    // Not recursive: that would copy the scratch mount on top again.
    const int hostTmp = ::open("/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (hostTmp < 0) {
        return systemError("opening /tmp");
    }
    if (::mount("tmpfs", "/tmp", "tmpfs", 0, "mode=0700") != 0) {
        ::close(hostTmp);
        return systemError("mounting the scratch tmpfs");
    }
    const int scratch = ::open("/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC);
    const std::string hostTmpPath = "/proc/self/fd/" + std::to_string(hostTmp);
    const bool covered =
        scratch >= 0 && ::mount(hostTmpPath.c_str(), "/tmp", nullptr, MS_BIND, nullptr) == 0;
    const int savedErrno = errno;
    ::close(hostTmp);
    if (!covered) {
        errno = savedErrno;
        return systemError("covering the scratch tmpfs");
    }
    scratchRoot() = "/proc/self/fd/" + std::to_string(scratch);
    writableRoots().clear();
    // Scratch files of the test body land in /tmp: they must never reach the host's.
    sandboxed() = true;
    try {
        overlay("/tmp");
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

std::string dropPrivileges() {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
        ::setresuid(kNobody, kNobody, kNobody) != 0) {
        return systemError("switching to uid " + std::to_string(kNobody));
    }
    return {};
}

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(systemError(what));
}

bool isUnder(const std::string& path, const std::string& root) {
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            (root.back() == '/' || path[root.size()] == '/'));
}

bool isWritable(const std::string& directory) {
    for (const std::string& root : writableRoots()) {
        if (isUnder(directory, root)) {
            return true;
        }
    }
    return false;
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

void overlay(const std::string& directory) {
    static int layers = 0;
    const std::string base = scratchRoot() + "/layer" + std::to_string(++layers);
    const std::string upper = base + "/upper";
    const std::string work = base + "/work";
    if (::mkdir(base.c_str(), 0700) != 0 || ::mkdir(upper.c_str(), 0755) != 0 ||
        ::mkdir(work.c_str(), 0700) != 0) {
        fail("mkdir " + base);
    }
    // The overlay's root takes its owner and mode from the upper layer: copy the lower's,
    // so that /tmp stays world-writable, for instance. In a user namespace the host's root
    // has no id (EINVAL): the upper then keeps this namespace's root as its owner.
    struct stat lower {};
    if (::stat(directory.c_str(), &lower) != 0 ||
        (::chown(upper.c_str(), lower.st_uid, lower.st_gid) != 0 && errno != EINVAL) ||
        ::chmod(upper.c_str(), lower.st_mode & 07777) != 0) {
        fail("copying owner and mode of " + directory);
    }
    const std::string options = "lowerdir=" + directory + ",upperdir=" + upper + ",workdir=" + work;
    if (::mount("overlay", directory.c_str(), "overlay", 0, options.c_str()) != 0) {
        fail("overlay on " + directory);
    }
    writableRoots().push_back(directory);
}

}  // namespace

const std::string& sandboxUnavailableReason() {
    static const std::string reason = [] {
        std::string why;
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            return systemError("pipe");
        }
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(pipeFds[0]);
            const std::string error = enterNamespace();
            writeAll(pipeFds[1], error.data(), error.size());
            ::_exit(error.empty() ? 0 : 1);
        }
        ::close(pipeFds[1]);
        char buffer[512];
        ssize_t n = 0;
        while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
            why.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(pipeFds[0]);
        int status = 0;
        if (pid > 0) {
            ::waitpid(pid, &status, 0);
        }
        if (pid < 0) {
            return systemError("fork");
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            return "no private mount namespace here (needs root or user namespaces): " + why;
        }
        return std::string();
    }();
    return reason;
}

bool insideSandbox() {
    return sandboxed();
}

std::string enterSandbox() {
    return enterNamespace();
}

void runInSandbox(const std::function<void()>& body, std::chrono::milliseconds limit) {
    runChild(&enterNamespace, body, limit);
}

void runUnprivileged(const std::function<void()>& body, std::chrono::milliseconds limit) {
    runChild(&dropPrivileges, body, limit);
}

namespace sandbox {

void makeDirectory(const std::string& directory) {
    struct stat st {};
    if (::stat(directory.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            errno = ENOTDIR;
            fail(directory);
        }
        if (!isWritable(directory)) {
            overlay(directory);
        }
        return;
    }
    makeDirectory(parentOf(directory));
    if (::mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
        fail("mkdir " + directory);
    }
}

void freshDirectory(const std::string& directory, mode_t mode) {
    // An existing directory needs no overlay first: the tmpfs hides it all the same, and
    // some (sysfs, for one) cannot be an overlay's lower layer.
    struct stat st {};
    if (::stat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        makeDirectory(directory);
    }
    char options[32];
    std::snprintf(options, sizeof options, "mode=%04o", static_cast<unsigned>(mode & 07777));
    if (::mount("tmpfs", directory.c_str(), "tmpfs", 0, options) != 0) {
        fail("tmpfs on " + directory);
    }
    writableRoots().push_back(directory);
}

void freshDev() {
    // Made before /dev is covered, since the host's nodes are the bind sources. Recursive,
    // as a user namespace refuses to bind a mount without the mounts locked under it.
    const char* const nodes[] = {"null", "zero", "full", "urandom", "tty"};
    const std::string staging = scratchRoot() + "/dev";
    if (::mkdir(staging.c_str(), 0755) != 0) {
        fail("mkdir " + staging);
    }
    if (::mount("/dev", staging.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
        fail("bind /dev");
    }
    freshDirectory("/dev", 0755);
    for (const char* node : nodes) {
        const std::string target = std::string("/dev/") + node;
        const std::string source = staging + "/" + node;
        writeFile(target, "", 0666);
        if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            fail("bind " + target);
        }
    }
    if (::umount2(staging.c_str(), MNT_DETACH) != 0) {
        fail("umount " + staging);
    }
    if (::mkdir("/dev/pts", 0755) != 0) {
        fail("mkdir /dev/pts");
    }
    if (::mount("devpts", "/dev/pts", "devpts", 0, "newinstance,ptmxmode=0666,mode=0620") != 0) {
        fail("devpts on /dev/pts");
    }
    if (::symlink("pts/ptmx", "/dev/ptmx") != 0) {
        fail("symlink /dev/ptmx");
    }
}

void writeFile(const std::string& path, const std::string& content, mode_t mode) {
    makeDirectory(parentOf(path));
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0 && errno == EACCES && ::unlink(path.c_str()) == 0) {
        // A host file whose owner has no id in this user namespace: replaced, not changed.
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    }
    if (fd < 0) {
        fail("open " + path);
    }
    const bool ok = writeAll(fd, content.data(), content.size()) && ::fchmod(fd, mode) == 0;
    ::close(fd);
    if (!ok) {
        fail("write " + path);
    }
}

void bindFile(const std::string& source, const std::string& target) {
    if (::access(target.c_str(), F_OK) != 0) {
        writeFile(target, "");
    }
    if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        fail("bind " + source + " on " + target);
    }
}

void removePath(const std::string& path) {
    makeDirectory(parentOf(path));
    std::error_code error;
    std::filesystem::remove_all(path, error);
    if (error) {
        throw std::runtime_error("remove " + path + ": " + error.message());
    }
}

}  // namespace sandbox

}  // namespace bw_sim
