// Serves a VirtualFiles tree at a mount point, from a thread of this process.
#pragma once

#include <string>
#include <thread>

#include "hub/VirtualFiles.hpp"

struct fuse;

namespace bw_sim {

class FuseMount {
  public:
    // Mounts `files` on the existing directory `mountPoint`; `name` shows in the mount
    // table as the file system's source. Throws std::runtime_error when it cannot mount.
    FuseMount(const std::string& mountPoint, const std::string& name, VirtualFiles& files);
    FuseMount(const FuseMount&) = delete;
    FuseMount& operator=(const FuseMount&) = delete;
    // Stops serving, unmounts (requests still pending fail with ENOTCONN instead of
    // hanging) and joins the thread.
    ~FuseMount();

  private:
    void serve();

    struct fuse* fuse_ = nullptr;
    int stopFd_ = -1;
    std::thread thread_;
};

// Empty when FUSE file systems can be mounted here; otherwise a one-line reason.
const std::string& fuseUnavailableReason();

}  // namespace bw_sim
