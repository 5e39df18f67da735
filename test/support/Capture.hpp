// Captures what a piece of code writes to standard output and standard error.
#pragma once

#include <functional>
#include <string>

namespace bw_test {

struct Captured {
    std::string out;
    std::string err;
};

// Runs `body` with file descriptors 1 and 2 redirected to files, flushing the C and C++
// streams on both sides, and returns exactly what was written to each.
Captured capture(const std::function<void()>& body);

// What error() puts in front of a message: the invocation name and ": ".
std::string errorPrefix();

}  // namespace bw_test
