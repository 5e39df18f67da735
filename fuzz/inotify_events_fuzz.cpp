// The walk over a buffer of inotify events. Half the inputs are raw bytes (it must stay
// inside the buffer whatever the lengths say); the other half are events put together the
// kernel's way and cut anywhere, where the answer is known: some whole event names the entry.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/inotify.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "check.hpp"
#include "lib/rawio/file_await.hpp"

namespace {

bool walk(const std::vector<char>& events, const std::string& name) {
    // An exact copy, so that a read past the end is caught.
    const std::unique_ptr<char[]> copy(new char[events.size()]);
    if (!events.empty()) {
        std::memcpy(copy.get(), events.data(), events.size());
    }
    return RawIO::eventsNameEntry(copy.get(), events.size(), {name.data(), name.size()});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string name = input.ConsumeRandomLengthString(32);
    if (input.ConsumeBool()) {
        const std::vector<char> raw = input.ConsumeRemainingBytes<char>();
        walk(raw, name);
        return 0;
    }

    const auto cut = input.ConsumeIntegralInRange<std::size_t>(0, 64);
    std::vector<char> events;
    std::vector<std::size_t> ends;
    std::vector<bool> names;
    while (input.remaining_bytes() > 0 && events.size() < 4096) {
        std::string entry = input.ConsumeBool() ? name : input.ConsumeRandomLengthString(40);
        inotify_event header{};
        header.wd = input.ConsumeIntegral<int>();
        header.mask = input.ConsumeIntegral<std::uint32_t>();
        // The kernel NUL-pads names; an event without a name has length 0.
        const auto padding = input.ConsumeIntegralInRange<std::size_t>(0, 16);
        header.len =
            entry.empty() && padding == 0 ? 0 : static_cast<std::uint32_t>(entry.size() + padding);
        entry.resize(header.len, '\0');
        const char* raw = reinterpret_cast<const char*>(&header);
        events.insert(events.end(), raw, raw + sizeof header);
        events.insert(events.end(), entry.begin(), entry.end());
        ends.push_back(events.size());
        names.push_back(header.len != 0 && std::string(entry.c_str()) == name);
    }
    events.resize(events.size() - std::min(cut, events.size()));

    bool expected = false;
    for (std::size_t i = 0; i < ends.size() && ends[i] <= events.size(); ++i) {
        expected = expected || names[i];
    }
    BW_FUZZ_CHECK(walk(events, name) == expected);
    return 0;
}
