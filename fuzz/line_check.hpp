// A stream that keeps of what is written only what a one-line check needs, so that a long
// description costs no copies.
#pragma once

#include <cstddef>
#include <cstring>
#include <ostream>
#include <streambuf>

namespace bw_fuzz {

class LineCheck : private std::streambuf, public std::ostream {
  public:
    LineCheck() : std::ostream(this) {}

    std::size_t size() const { return size_; }
    char front() const { return front_; }
    char back() const { return back_; }
    bool hasLineFeed() const { return lineFeed_; }

  private:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            const char ch = traits_type::to_char_type(c);
            xsputn(&ch, 1);
        }
        return traits_type::not_eof(c);
    }

    std::streamsize xsputn(const char* text, std::streamsize count) override {
        if (count <= 0) {
            return 0;
        }
        const auto length = static_cast<std::size_t>(count);
        front_ = size_ == 0 ? text[0] : front_;
        size_ += length;
        back_ = text[length - 1];
        lineFeed_ = lineFeed_ || std::memchr(text, '\n', length) != nullptr;
        return count;
    }

    std::size_t size_ = 0;
    char front_ = 0;
    char back_ = 0;
    bool lineFeed_ = false;
};

}  // namespace bw_fuzz
