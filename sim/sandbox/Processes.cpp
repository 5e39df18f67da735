// The process tree as /proc shows it.
#include "sandbox/Processes.hpp"

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

namespace bw_sim {

namespace {

// The parent of `pid`, or 0 when it is gone. The name in /proc/PID/stat may hold blanks
// and parentheses, so the fields are counted from the last ')'.
pid_t parentOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(stat.substr(close + 1));
    char state = 0;
    long parent = 0;
    fields >> state >> parent;
    return static_cast<pid_t>(parent);
}

std::multimap<pid_t, pid_t> childrenByParent() {
    std::multimap<pid_t, pid_t> children;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return children;
    }
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') {
            continue;
        }
        const pid_t parent = parentOf(static_cast<pid_t>(pid));
        if (parent > 0) {
            children.emplace(parent, static_cast<pid_t>(pid));
        }
    }
    ::closedir(proc);
    return children;
}

void reapAll() {
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

}  // namespace

std::vector<pid_t> descendantsOf(pid_t root) {
    const std::multimap<pid_t, pid_t> children = childrenByParent();
    std::vector<pid_t> found;
    std::vector<pid_t> parents = {root};
    while (!parents.empty()) {
        const pid_t parent = parents.back();
        parents.pop_back();
        const auto range = children.equal_range(parent);
        for (auto it = range.first; it != range.second; ++it) {
            found.push_back(it->second);
            parents.push_back(it->second);
        }
    }
    return found;
}

void adoptOrphans() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

bool endDescendants(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        reapAll();
        const std::vector<pid_t> left = descendantsOf(::getpid());
        if (left.empty()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        for (const pid_t pid : left) {
            ::kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace bw_sim
