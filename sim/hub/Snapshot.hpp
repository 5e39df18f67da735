// What the files of the hub looked like at one moment, and what changed between two such
// moments: the "files changed" of a run.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace bw_sim {

struct FileState {
    char type = '?';  // 'f' file, 'd' directory, 'l' symbolic link, 'o' other
    mode_t permissions = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    std::string content;  // a file's first bytes, or a link's target
};

using FileSnapshot = std::map<std::string, FileState>;

// Every entry under each root (and the root itself), without following links.
FileSnapshot takeSnapshot(const std::vector<std::string>& roots);

struct FileChange {
    std::string path;
    std::string what;  // "created", "removed", "content changed", "owner 0:0 -> 990:990" ...
};

std::vector<FileChange> compareSnapshots(const FileSnapshot& before, const FileSnapshot& after);

}  // namespace bw_sim
