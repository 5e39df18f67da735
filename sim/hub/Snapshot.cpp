// Walking the hub's directories and comparing two walks.
#include "hub/Snapshot.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bw_sim {

namespace {

// Enough to tell contents apart in a summary; larger files compare by their start.
constexpr std::size_t kContentLimit = 4096;

std::string describe(const FileState& state) {
    switch (state.type) {
        case 'f':
            return "file";
        case 'd':
            return "directory";
        case 'l':
            return "link to " + state.content;
        default:
            return "special file";
    }
}

std::string readStart(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return {};
    }
    std::string content(kContentLimit, '\0');
    const ssize_t n = ::read(fd, content.data(), content.size());
    ::close(fd);
    content.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return content;
}

void walk(const std::string& path, FileSnapshot& snapshot) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return;
    }
    FileState state;
    state.permissions = st.st_mode & 07777;
    state.uid = st.st_uid;
    state.gid = st.st_gid;
    if (S_ISREG(st.st_mode)) {
        state.type = 'f';
        state.content = readStart(path);
    } else if (S_ISLNK(st.st_mode)) {
        state.type = 'l';
        char target[4096];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        state.content.assign(target, n > 0 ? static_cast<std::size_t>(n) : 0);
    } else if (S_ISDIR(st.st_mode)) {
        state.type = 'd';
    } else {
        state.type = 'o';
    }
    snapshot[path] = state;
    if (state.type != 'd') {
        return;
    }
    DIR* directory = ::opendir(path.c_str());
    if (directory == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(directory);
    for (const std::string& name : names) {
        walk(path + "/" + name, snapshot);
    }
}

}  // namespace

FileSnapshot takeSnapshot(const std::vector<std::string>& roots) {
    FileSnapshot snapshot;
    for (const std::string& root : roots) {
        walk(root, snapshot);
    }
    return snapshot;
}

std::vector<FileChange> compareSnapshots(const FileSnapshot& before, const FileSnapshot& after) {
    std::vector<FileChange> changes;
    for (const auto& [path, old] : before) {
        const auto now = after.find(path);
        if (now == after.end()) {
            changes.push_back({path, "removed (was a " + describe(old) + ")"});
            continue;
        }
        const FileState& state = now->second;
        if (state.type != old.type) {
            changes.push_back(
                {path, "now a " + describe(state) + " (was a " + describe(old) + ")"});
            continue;
        }
        if (state.content != old.content) {
            changes.push_back({path, "content changed"});
        }
        if (state.uid != old.uid || state.gid != old.gid) {
            changes.push_back(
                {path, "owner " + std::to_string(old.uid) + ":" + std::to_string(old.gid) + " -> " +
                           std::to_string(state.uid) + ":" + std::to_string(state.gid)});
        }
    }
    for (const auto& [path, state] : after) {
        if (before.count(path) == 0) {
            changes.push_back({path, "created (" + describe(state) + ")"});
        }
    }
    return changes;
}

}  // namespace bw_sim
