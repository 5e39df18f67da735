/* The floor of a normal boot in C: the system calls bw-selftest makes on that road (read
 * the model file, print its line, set the three LED lines up through sysfs, test the
 * first-boot marker, switch the LEDs on) and then pause(), with nothing else around them. */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static ssize_t readSmall(const char* path, char* buffer, size_t size) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    ssize_t got = read(fd, buffer, size);
    close(fd);
    return got;
}

static void writeSmall(const char* path, const char* text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        (void)!write(fd, text, strlen(text));
        close(fd);
    }
}

int main(void) {
    char id[256] = "prism-tmp-v1-eu";
    ssize_t got = readSmall("/usr/local/share/brambleway/corenode.model", id, sizeof id - 1);
    if (got >= 0) {
        id[got] = '\0';
        id[strcspn(id, "\n")] = '\0';
    }
    char line[320];
    int length = snprintf(line, sizeof line, "corenode.model = \"%s\"\n", id);
    (void)!write(1, line, (size_t)length);

    int values[3];
    for (int i = 0; i < 3; ++i) {
        const unsigned gpio = 11U + (unsigned)i;
        char path[64], direction[33] = "", number[8];
        snprintf(path, sizeof path, "/sys/class/gpio/gpio%u/direction", gpio);
        if (readSmall(path, direction, 32) < 0) {
            snprintf(number, sizeof number, "%u", gpio);
            writeSmall("/sys/class/gpio/export", number);
            readSmall(path, direction, 32);
        }
        if (strncmp(direction, "out", 3) != 0) {
            writeSmall(path, "out");
        }
        snprintf(path, sizeof path, "/sys/class/gpio/gpio%u/value", gpio);
        values[i] = open(path, O_RDWR | O_CLOEXEC);
    }
    const char* marker = "/var/lib/brambleway/.firstboot";
    length = snprintf(line, sizeof line, "Checking %s%s\n", marker,
                      access(marker, F_OK) == 0 ? ": OK" : ": Does not exist");
    (void)!write(1, line, (size_t)length);
    for (int i = 0; i < 3; ++i) {
        (void)!write(values[i], "1", 1);
    }
    for (int i = 0; i < 3; ++i) {
        close(values[i]);
    }
    for (;;) {
        pause();
    }
}
