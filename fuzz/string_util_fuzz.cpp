// The report banner's centring and the trimming of one-line files, on any text and width.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <memory>
#include <string>

#include "check.hpp"
#include "util/StringUtil.hpp"

namespace {

bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

void checkCenter(const std::string& text, char fill, std::size_t width) {
    // An exact copy without a NUL after it: the view is all there is.
    const std::unique_ptr<char[]> copy(new char[text.size()]);
    text.copy(copy.get(), text.size());
    const std::string line = bw_selftest::center({copy.get(), text.size()}, fill, width);
    if (text.size() + 2 >= width) {
        BW_FUZZ_CHECK(line == text);
        return;
    }
    // The text with a blank on either side, between runs of fill characters; the right
    // one is longer by one for an odd width and by one more for an odd text.
    const std::size_t fills = width - text.size() - 2;
    const std::size_t left = (fills - width % 2 - text.size() % 2) / 2;
    BW_FUZZ_CHECK(line ==
                  std::string(left, fill) + ' ' + text + ' ' + std::string(fills - left, fill));
}

void checkTrimRight(const std::string& text) {
    std::string trimmed = text;
    bw_selftest::trimRight(trimmed);
    BW_FUZZ_CHECK(text.compare(0, trimmed.size(), trimmed) == 0);
    BW_FUZZ_CHECK(trimmed.empty() || !isSpace(trimmed.back()));
    for (std::size_t i = trimmed.size(); i < text.size(); ++i) {
        BW_FUZZ_CHECK(isSpace(text[i]));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto width = input.ConsumeIntegralInRange<std::size_t>(0, 300);
    const char fill = input.ConsumeIntegral<char>();
    const std::string text = input.ConsumeRemainingBytesAsString();
    checkCenter(text, fill, width);
    checkTrimRight(text);
    return 0;
}
