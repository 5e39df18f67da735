// The floor of a normal boot in C++: the same system calls as the C floor, with the model
// file read through an input file stream and the lines printed with iostream, as the
// program does.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

namespace {

bool readSmall(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buffer[32];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    text.assign(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    return got >= 0;
}

void writeSmall(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        (void)!::write(fd, text.data(), text.size());
        ::close(fd);
    }
}

}  // namespace

int main() {
    std::string id;
    std::ifstream model("/usr/local/share/brambleway/corenode.model");
    if (!std::getline(model, id)) {
        id = "prism-tmp-v1-eu";
    }
    model.close();
    std::cout << "corenode.model = \"" << id << "\"" << std::endl;

    int values[3];
    for (unsigned i = 0; i < 3; ++i) {
        const std::string gpio = "/sys/class/gpio/gpio" + std::to_string(11 + i);
        std::string direction;
        if (!readSmall(gpio + "/direction", direction)) {
            writeSmall("/sys/class/gpio/export", std::to_string(11 + i));
            readSmall(gpio + "/direction", direction);
        }
        if (direction.compare(0, 3, "out") != 0) {
            writeSmall(gpio + "/direction", "out");
        }
        values[i] = ::open((gpio + "/value").c_str(), O_RDWR | O_CLOEXEC);
    }
    const char* marker = "/var/lib/brambleway/.firstboot";
    std::cout << "Checking " << marker
              << (::access(marker, F_OK) == 0 ? ": OK" : ": Does not exist") << std::endl;
    for (int fd : values) {
        (void)!::write(fd, "1", 1);
    }
    for (int fd : values) {
        ::close(fd);
    }
    for (;;) {
        ::pause();
    }
}
