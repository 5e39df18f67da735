// mkdir -p, whole-file writes and links, without the sandbox's bookkeeping.
#include "hub/FileMaking.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace bw_sim {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

void makeDirectories(const std::string& path, mode_t mode) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            errno = ENOTDIR;
            fail("mkdir", path);
        }
        return;
    }
    makeDirectories(parentOf(path), 0755);
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) {
        fail("mkdir", path);
    }
}

void putFile(const std::string& path, const std::string& content, mode_t mode) {
    makeDirectories(parentOf(path));
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        fail("open", path);
    }
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n <= 0) {
            ::close(fd);
            fail("write", path);
        }
        done += static_cast<std::size_t>(n);
    }
    const bool ok = ::fchmod(fd, mode) == 0;
    ::close(fd);
    if (!ok) {
        fail("chmod", path);
    }
}

void putSymlink(const std::string& target, const std::string& path) {
    makeDirectories(parentOf(path));
    if (::symlink(target.c_str(), path.c_str()) != 0) {
        fail("symlink", path);
    }
}

}  // namespace bw_sim
