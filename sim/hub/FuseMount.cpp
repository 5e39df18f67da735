// The FUSE side of the simulated sysfs: kernel requests become VirtualFiles calls.
#define FUSE_USE_VERSION 31
#include "hub/FuseMount.hpp"

#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace bw_sim {

namespace {

// sysfs reports every attribute as one page long, whatever it holds.
constexpr off_t kAttributeSize = 4096;

VirtualFiles& files() {
    return *static_cast<VirtualFiles*>(fuse_get_context()->private_data);
}

std::string relative(const char* path) {
    return path[0] == '/' ? std::string(path + 1) : std::string(path);
}

void* fsInit(fuse_conn_info* /*connection*/, fuse_config* config) {
    // The kernel must ask again every time: files come and go with every export.
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    config->direct_io = 1;
    config->kernel_cache = 0;
    return fuse_get_context()->private_data;
}

int fsGetattr(const char* path, struct stat* st, fuse_file_info* /*fi*/) {
    VirtualFiles::Attributes attributes;
    const int error = files().attributes(relative(path), attributes);
    if (error != 0) {
        return -error;
    }
    *st = {};
    st->st_mode = (attributes.directory ? S_IFDIR : S_IFREG) | attributes.permissions;
    st->st_nlink = attributes.directory ? 2 : 1;
    st->st_size = attributes.directory ? 0 : kAttributeSize;
    return 0;
}

int fsReaddir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t /*offset*/,
              fuse_file_info* /*fi*/, fuse_readdir_flags /*flags*/) {
    std::vector<std::string> names;
    const int error = files().list(relative(path), names);
    if (error != 0) {
        return -error;
    }
    fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    for (const std::string& name : names) {
        fill(buffer, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    }
    return 0;
}

int fsOpen(const char* path, fuse_file_info* fi) {
    VirtualFiles::Attributes attributes;
    const std::string name = relative(path);
    int error = files().attributes(name, attributes);
    if (error != 0) {
        return -error;
    }
    if (attributes.directory) {
        return -EISDIR;
    }
    // Like sysfs, even root cannot read an attribute that only takes writes, or write one
    // that only shows a value.
    const int access = fi->flags & O_ACCMODE;
    const bool reads = access == O_RDONLY || access == O_RDWR;
    const bool writes = access == O_WRONLY || access == O_RDWR;
    if ((reads && (attributes.permissions & 0444) == 0) ||
        (writes && (attributes.permissions & 0222) == 0)) {
        return -EACCES;
    }
    std::uint64_t handle = 0;
    error = files().open(name, handle);
    if (error != 0) {
        return -error;
    }
    fi->fh = handle;
    fi->direct_io = 1;
    return 0;
}

int fsRead(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    std::string content;
    const int error = files().read(relative(path), fi->fh, content);
    if (error != 0) {
        return -error;
    }
    const auto start = static_cast<std::size_t>(offset);
    if (offset < 0 || start >= content.size()) {
        return 0;
    }
    const std::size_t count = std::min(size, content.size() - start);
    std::memcpy(buffer, content.data() + start, count);
    return static_cast<int>(count);
}

int fsWrite(const char* path, const char* data, size_t size, off_t /*offset*/, fuse_file_info* fi) {
    const int error = files().write(relative(path), fi->fh, std::string(data, size));
    return error != 0 ? -error : static_cast<int>(size);
}

// Opening with O_TRUNC or touching an attribute changes nothing on sysfs, and fails nowhere.
int fsTruncate(const char* path, off_t /*size*/, fuse_file_info* /*fi*/) {
    VirtualFiles::Attributes attributes;
    return -files().attributes(relative(path), attributes);
}

int fsUtimens(const char* path, const timespec /*times*/[2], fuse_file_info* /*fi*/) {
    VirtualFiles::Attributes attributes;
    return -files().attributes(relative(path), attributes);
}

int fsCreate(const char* /*path*/, mode_t /*mode*/, fuse_file_info* /*fi*/) {
    return -EACCES;
}

int fsRefused(const char* /*path*/) {
    return -EPERM;
}

int fsRefusedWithMode(const char* /*path*/, mode_t /*mode*/) {
    return -EPERM;
}

int fsRefusedRename(const char* /*from*/, const char* /*to*/, unsigned int /*flags*/) {
    return -EPERM;
}

int fsRefusedLink(const char* /*from*/, const char* /*to*/) {
    return -EPERM;
}

fuse_operations makeOperations() {
    fuse_operations ops{};
    ops.init = fsInit;
    ops.getattr = fsGetattr;
    ops.readdir = fsReaddir;
    ops.open = fsOpen;
    ops.read = fsRead;
    ops.write = fsWrite;
    ops.truncate = fsTruncate;
    ops.utimens = fsUtimens;
    ops.create = fsCreate;
    ops.mkdir = fsRefusedWithMode;
    ops.unlink = fsRefused;
    ops.rmdir = fsRefused;
    ops.rename = fsRefusedRename;
    ops.symlink = fsRefusedLink;
    ops.link = fsRefusedLink;
    return ops;
}

}  // namespace

FuseMount::FuseMount(const std::string& mountPoint, const std::string& name,
                     VirtualFiles& virtualFiles) {
    static const fuse_operations operations = makeOperations();
    const std::string options = "allow_other,default_permissions,fsname=" + name;
    std::vector<std::string> argv = {"bw-sim", "-o", options};
    std::vector<char*> args;
    for (std::string& arg : argv) {
        args.push_back(arg.data());
    }
    fuse_args fuseArgs = FUSE_ARGS_INIT(static_cast<int>(args.size()), args.data());
    fuse_ = fuse_new(&fuseArgs, &operations, sizeof operations, &virtualFiles);
    fuse_opt_free_args(&fuseArgs);
    if (fuse_ == nullptr) {
        throw std::runtime_error("fuse_new failed for " + mountPoint);
    }
    if (fuse_mount(fuse_, mountPoint.c_str()) != 0) {
        fuse_destroy(fuse_);
        throw std::runtime_error("cannot mount FUSE on " + mountPoint);
    }
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (stopFd_ < 0) {
        const std::string why = std::strerror(errno);
        fuse_unmount(fuse_);
        fuse_destroy(fuse_);
        throw std::runtime_error("eventfd: " + why);
    }
    thread_ = std::thread([this] { serve(); });
}

FuseMount::~FuseMount() {
    const std::uint64_t one = 1;
    if (::write(stopFd_, &one, sizeof one) != sizeof one) {
        // Cannot happen for an eventfd far from its limit; joining would then hang, so the
        // process is better ended here than left half torn down.
        std::abort();
    }
    thread_.join();
    fuse_unmount(fuse_);
    fuse_destroy(fuse_);
    ::close(stopFd_);
}

void FuseMount::serve() {
    fuse_session* session = fuse_get_session(fuse_);
    const int deviceFd = fuse_session_fd(session);
    fuse_buf buffer{};
    while (!fuse_session_exited(session)) {
        pollfd fds[2] = {{deviceFd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0 || (fds[0].revents & POLLIN) == 0) {
            break;
        }
        const int received = fuse_session_receive_buf(session, &buffer);
        if (received == -EINTR || received == -EAGAIN || received == -ENOENT) {
            continue;  // an interrupted or already withdrawn request
        }
        if (received <= 0) {
            break;
        }
        fuse_session_process_buf(session, &buffer);
    }
    std::free(buffer.mem);
}

const std::string& fuseUnavailableReason() {
    static const std::string reason = [] {
        const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            return std::string("no FUSE here: /dev/fuse: ") + std::strerror(errno);
        }
        ::close(fd);
        return std::string();
    }();
    return reason;
}

}  // namespace bw_sim
