// The model file with any content: its first line, and the model that line names.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "check.hpp"
#include "lib/prism/Model.hpp"
#include "setup/Setup.hpp"

namespace {

// The supported hubs' ids; anything else is no model.
const char* const kKnownIds[] = {"prism-1v1-eu",   "prism-1v0-eu",         "prism-1v0-1-eu",
                                 "crate-1v0-b-eu", "prism-1v1-eu-proto-1", "prism-1v1-eu-proto-2"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A file only in memory, opened by its path as the model file is. One for the whole run,
    // rewritten for each input: making and closing one each time cost more than the read.
    static const int fd = ::memfd_create("model", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    BW_FUZZ_CHECK(fd >= 0);
    BW_FUZZ_CHECK(::ftruncate(fd, 0) == 0);
    BW_FUZZ_CHECK(::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));

    std::string line = "untouched";
    const bool read = bw_selftest::readFirstLine(path.c_str(), line);

    const std::string content(reinterpret_cast<const char*>(data), size);
    if (size == 0) {
        BW_FUZZ_CHECK(!read && line == "untouched");
        return 0;
    }
    BW_FUZZ_CHECK(read);
    BW_FUZZ_CHECK(line == content.substr(0, content.find('\n')));

    bool known = false;
    for (const char* id : kKnownIds) {
        known = known || line == id;
    }
    BW_FUZZ_CHECK(known == (bw_selftest::parseModel(line) != bw_selftest::Model::unsupported));
    return 0;
}
