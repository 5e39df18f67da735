// A stand-in for the program under bw-hub: prints on both streams, sets the LEDs, runs an
// outside command, changes a file, and then ends as its hub's model file says: "exits",
// "crashes", "hangs" (never waits), or anything else: waits in pause().
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

void put(const std::string& path, const char* text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 || ::write(fd, text, 1) < 0 || ::close(fd) != 0) {
        std::perror(path.c_str());
    }
}

void leds(const char* first, const char* second, const char* third) {
    put("/sys/class/gpio/gpio11/value", first);
    put("/sys/class/gpio/gpio12/value", second);
    put("/sys/class/gpio/gpio13/value", third);
}

}  // namespace

int main() {
    std::string model;
    std::getline(std::ifstream("/usr/local/share/brambleway/corenode.model"), model);
    std::printf("corenode.model = \"%s\"\n", model.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "stand-in: a warning\n");
    for (const char* gpio : {"11", "12", "13"}) {
        const int fd = ::open("/sys/class/gpio/export", O_WRONLY | O_CLOEXEC);
        if (fd < 0 || ::write(fd, gpio, 2) != 2 || ::close(fd) != 0) {
            std::perror("export");
        }
        ::usleep(5000);
        const std::string line = std::string("/sys/class/gpio/gpio") + gpio + "/direction";
        const int direction = ::open(line.c_str(), O_WRONLY | O_CLOEXEC);
        if (direction < 0 || ::write(direction, "out", 3) != 3 || ::close(direction) != 0) {
            std::perror("direction");
        }
    }
    leds("0", "0", "1");
    std::printf("Waiting for something");
    std::fflush(stdout);
    ::usleep(400000);
    std::printf(": OK\nRunning /usr/bin/svc -d /etc/service/mainbus\n");
    std::fflush(stdout);
    const int status = std::system("/usr/bin/svc -d /etc/service/mainbus");
    ::unlink("/var/lib/brambleway/.firstboot");
    leds("0", "1", "0");
    std::printf("svc said %d; no line feed at the end", status);
    std::fflush(stdout);
    if (model == "exits") {
        return 3;
    }
    if (model == "crashes") {
        const rlimit noCore{0, 0};  // a crash on purpose leaves no core file behind
        ::setrlimit(RLIMIT_CORE, &noCore);
        std::raise(SIGSEGV);
    }
    for (;;) {
        if (model == "hangs") {
            ::sleep(1);
        } else {
            ::pause();
        }
    }
}
