// A fixture's console device, opened for the station alone.
#pragma once

#include <string>

#include "lib/rawio/FileDescriptor.hpp"

namespace bw_station {

// Opens `path` non-blocking as a raw 8N1 line at `baud` (a pseudo-terminal takes the same
// settings), exclusively: TIOCEXCL keeps other openers out, and a lock on the device keeps a
// second station out even when it runs as root, for which TIOCEXCL does not count. An
// invalid descriptor and `why` when it cannot.
RawIO::FileDescriptor openConsole(const std::string& path, unsigned baud, std::string& why);

// The termios speed constant of `baud`, or 0 for a rate the serial driver does not know.
unsigned speedOf(unsigned baud);

}  // namespace bw_station
