// A stream that keeps of what is written only what a one-line check needs, so that a long
// description costs no copies. Writes gather in a small put area, so the many short pieces of
// a description are looked at a block at a time, not one virtual call each.
#pragma once

#include <cstddef>
#include <cstring>
#include <ostream>
#include <streambuf>

namespace bw_fuzz {

class LineCheck : private std::streambuf, public std::ostream {
  public:
    LineCheck() : std::ostream(this) { setp(block_, block_ + sizeof block_); }

    std::size_t size() {
        take();
        return size_;
    }
    char front() {
        take();
        return front_;
    }
    char back() {
        take();
        return back_;
    }
    bool hasLineFeed() {
        take();
        return lineFeed_;
    }
    // Forgets what was written, so one stream serves many checks: making a stream costs more
    // than a short description.
    void restart() {
        setp(block_, block_ + sizeof block_);
        std::ostream::clear();
        size_ = 0;
        front_ = 0;
        back_ = 0;
        lineFeed_ = false;
    }

  private:
    int_type overflow(int_type c) override {
        take();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    // Notes what the put area holds and empties it.
    void take() {
        const auto length = static_cast<std::size_t>(pptr() - pbase());
        if (length == 0) {
            return;
        }
        front_ = size_ == 0 ? block_[0] : front_;
        size_ += length;
        back_ = block_[length - 1];
        lineFeed_ = lineFeed_ || std::memchr(block_, '\n', length) != nullptr;
        setp(block_, block_ + sizeof block_);
    }

    char block_[4096];
    std::size_t size_ = 0;
    char front_ = 0;
    char back_ = 0;
    bool lineFeed_ = false;
};

}  // namespace bw_fuzz
