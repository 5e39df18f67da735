// Captures what a piece of code writes to standard output and standard error.
#include "support/Capture.hpp"

#include <errno.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>

namespace bw_test {

namespace {

void flushAll() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
}

std::string readBack(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    std::fclose(file);
    return text;
}

// Points `fd` at a new temporary file while alive.
class Redirect {
  public:
    explicit Redirect(int fd) : fd_(fd), file_(std::tmpfile()), saved_(::dup(fd)) {
        if (file_ == nullptr || saved_ < 0 || ::dup2(::fileno(file_), fd_) < 0) {
            throw std::runtime_error("capture: cannot redirect");
        }
    }
    Redirect(const Redirect&) = delete;
    Redirect& operator=(const Redirect&) = delete;
    ~Redirect() {
        if (saved_ >= 0) {
            ::dup2(saved_, fd_);
            ::close(saved_);
        }
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    std::string take() {
        ::dup2(saved_, fd_);
        ::close(saved_);
        saved_ = -1;
        std::FILE* file = file_;
        file_ = nullptr;
        return readBack(file);
    }

  private:
    int fd_;
    std::FILE* file_;
    int saved_;
};

}  // namespace

Captured capture(const std::function<void()>& body) {
    flushAll();
    Redirect out(1);
    Redirect err(2);
    body();
    flushAll();
    Captured captured;
    captured.out = out.take();
    captured.err = err.take();
    return captured;
}

std::string errorPrefix() {
    return std::string(program_invocation_name) + ": ";
}

}  // namespace bw_test
