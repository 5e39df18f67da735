// The Raw I/O library's exception: a static message and the errno of the failed call.
#pragma once

#include <cstdint>
#include <exception>

namespace RawIO {

class Exception : public virtual std::exception {
  public:
    // `message` must be a string literal: it is never copied or freed.
    explicit Exception(const char* staticMessage) noexcept
        : errorNumber(0), message(staticMessage) {}
    Exception(std::int32_t systemErrorNumber, const char* staticMessage) noexcept
        : errorNumber(systemErrorNumber), message(staticMessage) {}
    ~Exception() override;

    const char* what() const noexcept override { return message; }

    // strerror of errorNumber, or "" when no system call failed.
    const char* systemErrorText() const;

    std::int32_t errorNumber;
    const char* message;
};

}  // namespace RawIO
