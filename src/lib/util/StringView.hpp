// Non-owning views of text: pointer and length, nothing else.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

namespace bw_selftest {

// Any run of characters; need not be NUL-terminated. Never store one beyond the call.
class TemporaryStringView {
  public:
    constexpr TemporaryStringView() = default;
    constexpr TemporaryStringView(const char* data, std::size_t size) : data_(data), size_(size) {}
    TemporaryStringView(const std::string& text)  // NOLINT(google-explicit-constructor)
        : data_(text.data()), size_(text.size()) {}

    constexpr const char* data() const { return data_; }
    constexpr std::size_t size() const { return size_; }
    constexpr bool empty() const { return size_ == 0; }
    constexpr char operator[](std::size_t index) const { return data_[index]; }

    std::string toString() const { return std::string(data_, size_); }
    explicit operator std::string() const { return toString(); }

  private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

// A view whose text is followed by a NUL, so data() may go to C functions.
class TemporaryCStringView : public TemporaryStringView {
  public:
    constexpr TemporaryCStringView() : TemporaryStringView("", 0) {}
    TemporaryCStringView(const char* text)  // NOLINT(google-explicit-constructor)
        : TemporaryStringView(text == nullptr ? "" : text, text == nullptr ? 0 : length(text)) {}
    TemporaryCStringView(const std::string& text)  // NOLINT(google-explicit-constructor)
        : TemporaryStringView(text.c_str(), text.size()) {}

  private:
    static std::size_t length(const char* text);
};

// A view of a string literal: alive for the whole run, so it may be stored.
class CStringLiteralView {
  public:
    template <std::size_t N>
    constexpr CStringLiteralView(const char (&literal)[N])  // NOLINT(google-explicit-constructor)
        : data_(literal), size_(N - 1) {}

    constexpr const char* data() const { return data_; }
    constexpr std::size_t size() const { return size_; }
    constexpr bool empty() const { return size_ == 0; }
    constexpr char operator[](std::size_t index) const { return data_[index]; }

    std::string toString() const { return std::string(data_, size_); }
    explicit operator std::string() const { return toString(); }
    operator TemporaryStringView() const {  // NOLINT(google-explicit-constructor)
        return TemporaryStringView(data_, size_);
    }
    operator TemporaryCStringView() const {  // NOLINT(google-explicit-constructor)
        return TemporaryCStringView(data_);
    }

  private:
    const char* data_;
    std::size_t size_;
};

bool operator==(TemporaryStringView a, TemporaryStringView b);
inline bool operator!=(TemporaryStringView a, TemporaryStringView b) {
    return !(a == b);
}

// Unformatted: exactly size() characters, the stream's field width does not apply.
std::ostream& operator<<(std::ostream& out, TemporaryStringView view);

}  // namespace bw_selftest
