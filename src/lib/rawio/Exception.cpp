// The Raw I/O library's exception.
#include "lib/rawio/Exception.hpp"

#include <cstring>

namespace RawIO {

// Out of line so that the vtable has one home.
Exception::~Exception() = default;

const char* Exception::systemErrorText() const {
    return errorNumber == 0 ? "" : std::strerror(errorNumber);
}

}  // namespace RawIO
