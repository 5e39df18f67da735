// Linked into every program of a coverage build only (BW_COVERAGE). gcov writes its counts
// when a program exits normally; test children end with _exit and the program under test
// ends by SIGTERM, so both write them first here.
#include <csignal>

extern "C" {
void __gcov_dump();
[[noreturn]] void __real__exit(int status);
[[noreturn]] void __real__Exit(int status);

[[noreturn]] void __wrap__exit(int status) {
    __gcov_dump();
    __real__exit(status);
}

[[noreturn]] void __wrap__Exit(int status) {
    __gcov_dump();
    __real__Exit(status);
}
}

namespace {

void dumpAndTerminate(int signal) {
    __gcov_dump();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

__attribute__((constructor)) void dumpOnTerminate() {
    std::signal(SIGTERM, dumpAndTerminate);
}

}  // namespace
