// Child processes in private mount namespaces, with their test failures carried home.
#include "sandbox/Sandbox.hpp"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <vector>

namespace bw_sim {

namespace {

constexpr uid_t kNobody = 65534;
// The sandbox's own scratch space: a tmpfs detached from every path, reached only through
// a descriptor, so that it hides nothing (the build tree may live anywhere, /tmp included)
// and the program under test never sees it.
std::string& scratchRoot() {
    static std::string root;
    return root;
}

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
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

// The one failure record the child sends home per failed assertion.
struct Failure {
    std::string file;
    int line = 0;
    std::string message;
};

void sendString(int fd, const std::string& text) {
    const auto size = static_cast<std::uint32_t>(text.size());
    writeAll(fd, &size, sizeof size);
    writeAll(fd, text.data(), text.size());
}

void sendFailure(int fd, const Failure& failure) {
    const auto line = static_cast<std::int32_t>(failure.line);
    writeAll(fd, &line, sizeof line);
    sendString(fd, failure.file);
    sendString(fd, failure.message);
}

// Parses what the child sent; a torn record at the end is reported as such.
std::vector<Failure> parseFailures(const std::string& wire) {
    std::vector<Failure> failures;
    std::size_t pos = 0;
    auto take = [&](void* out, std::size_t size) {
        if (wire.size() - pos < size) {
            return false;
        }
        std::memcpy(out, wire.data() + pos, size);
        pos += size;
        return true;
    };
    auto takeString = [&](std::string& out) {
        std::uint32_t size = 0;
        if (!take(&size, sizeof size) || wire.size() - pos < size) {
            return false;
        }
        out.assign(wire, pos, size);
        pos += size;
        return true;
    };
    while (pos < wire.size()) {
        Failure failure;
        std::int32_t line = 0;
        if (!take(&line, sizeof line) || !takeString(failure.file) ||
            !takeString(failure.message)) {
            failures.push_back({"", 0, "sandbox: truncated failure report from the child"});
            break;
        }
        failure.line = line;
        failures.push_back(std::move(failure));
    }
    return failures;
}

using Setup = std::string (*)();

// Runs in the child: prepares it, runs the body with every assertion intercepted, and
// sends the failures home. Never returns.
[[noreturn]] void childMain(int reportFd, Setup setup, const std::function<void()>& body) {
    ::setpgid(0, 0);
    std::vector<Failure> failures;
    const std::string setupError = setup();
    if (!setupError.empty()) {
        failures.push_back({__FILE__, __LINE__, "sandbox set-up failed: " + setupError});
    } else {
        ::testing::TestPartResultArray results;
        {
            // Both: a reporter of this thread inherited from the parent (as inside
            // EXPECT_NONFATAL_FAILURE) would otherwise take the results.
            ::testing::ScopedFakeTestPartResultReporter allThreads(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
            ::testing::ScopedFakeTestPartResultReporter thisThread(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                &results);
            try {
                body();
            } catch (const std::exception& e) {
                ADD_FAILURE() << "exception escaped the sandboxed body: " << e.what();
            } catch (...) {
                ADD_FAILURE() << "unknown exception escaped the sandboxed body";
            }
        }
        for (int i = 0; i < results.size(); ++i) {
            const ::testing::TestPartResult& result = results.GetTestPartResult(i);
            if (!result.failed()) {
                continue;
            }
            failures.push_back({result.file_name() != nullptr ? result.file_name() : "",
                                result.line_number(), result.message()});
        }
    }
    for (const Failure& failure : failures) {
        sendFailure(reportFd, failure);
    }
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    ::_exit(0);
}

// Waits, within a bound, for every process of the killed group `group` that was orphaned
// and so became a child of this process.
void reapGroup(pid_t group) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    // A killed grandchild comes to this process only once its own parent is gone, so
    // the group is watched until it is empty, not until this process has no child in it.
    while (::kill(-group, 0) == 0 && std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(-group, nullptr, WNOHANG) <= 0) {
            ::usleep(1000);
        }
    }
}

void runChild(Setup setup, const std::function<void()>& body, std::chrono::milliseconds limit) {
    // Orphans of the sandbox's processes must come here, not to init, to be reaped.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << systemError("sandbox: pipe");
        return;
    }
    // Whatever sits in our stdio buffers must not be written a second time by the child.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ADD_FAILURE() << systemError("sandbox: fork");
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return;
    }
    if (pid == 0) {
        ::close(pipeFds[0]);
        childMain(pipeFds[1], setup, body);
    }
    ::close(pipeFds[1]);
    ::setpgid(pid, pid);  // also done by the child; whichever runs first wins the race

    std::string wire;
    bool timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd pfd{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        wire.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    if (timedOut) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // Anything the body left running in its process group goes with it, and is reaped here
    // (orphans come to this process, see runChild) so that not even a zombie stays.
    ::kill(-pid, SIGKILL);
    reapGroup(pid);

    for (const Failure& failure : parseFailures(wire)) {
        GTEST_MESSAGE_AT_(failure.file.empty() ? "(sandbox)" : failure.file.c_str(), failure.line,
                          failure.message.c_str(), ::testing::TestPartResult::kNonFatalFailure);
    }
    if (timedOut) {
        ADD_FAILURE() << "sandbox: child killed after its limit of " << limit.count() << " ms";
    } else if (WIFSIGNALED(status)) {
        ADD_FAILURE() << "sandbox: child ended by signal " << WTERMSIG(status) << " ("
                      << strsignal(WTERMSIG(status)) << ")";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << "sandbox: child exited with status " << WEXITSTATUS(status);
    }
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
    // so that /tmp stays world-writable, for instance.
    struct stat lower {};
    if (::stat(directory.c_str(), &lower) != 0 ||
        ::chown(upper.c_str(), lower.st_uid, lower.st_gid) != 0 ||
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
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
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
