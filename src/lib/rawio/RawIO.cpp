// Result codes of the Raw I/O library and its error-code file operations.
#include "lib/rawio/RawIO.hpp"

#include <error.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "lib/rawio/FileDescriptor.hpp"

namespace RawIO {

namespace {

constexpr const char* kResultTexts[] = {
    "",                                            // Other
    "",                                            // OK: printResult writes ": OK" itself
    ": Permission denied",                         // PermissionDenied
    ": Does not exist",                            // DoesNotExist
    ": Write failed",                              // WriteFailed
    ": Read failed",                               // ReadFailed
    ": Out of memory",                             // OutOfMemory
    ": Timed out",                                 // TimedOut
    ": Not all expected data was written",         // IncompleteWrite
    ": Not all expected data was read",            // IncompleteRead
    ": Poll failed",                               // PollFailed
    ": Unable to get timer for timeout handling",  // NoTimer
};

// errno 1 to 13; Other marks the numbers without a mapping.
constexpr Result kErrnoResults[] = {
    Result::PermissionDenied,  // EPERM
    Result::DoesNotExist,      // ENOENT
    Result::Other,             // ESRCH
    Result::Other,             // EINTR
    Result::Other,             // EIO
    Result::Other,             // ENXIO
    Result::Other,             // E2BIG
    Result::Other,             // ENOEXEC
    Result::Other,             // EBADF
    Result::Other,             // ECHILD
    Result::Other,             // EAGAIN
    Result::OutOfMemory,       // ENOMEM
    Result::PermissionDenied,  // EACCES
};

}  // namespace

Result resultFromErrno(int errorNumber, Result fallback) {
    if (errorNumber < 1 || errorNumber > 13) {
        return fallback;
    }
    const Result mapped = kErrnoResults[errorNumber - 1];
    return mapped == Result::Other ? fallback : mapped;
}

const char* resultText(Result result) {
    const int value = static_cast<int>(result);
    if (value < -1 || value > 10) {
        return "";
    }
    return kResultTexts[value + 1];
}

bool reportError(Result result, const char* prefix) {
    if (result == Result::OK) {
        return true;
    }
    error(0, 0, "%s%s", prefix, resultText(result));
    return false;
}

bool printResult(Result result) {
    if (result == Result::OK) {
        std::puts(": OK");
        return true;
    }
    std::puts(resultText(result));
    return false;
}

Result writeFile(const char* path, const std::string& data) {
    const FileDescriptor file(::open(path, O_WRONLY));
    if (!file) {
        return resultFromErrno(errno, Result::Other);
    }
    const ssize_t count = ::write(file.get(), data.data(), data.size());
    if (count < 0) {
        return resultFromErrno(errno, Result::WriteFailed);
    }
    if (static_cast<std::size_t>(count) != data.size()) {
        return Result::IncompleteWrite;
    }
    return Result::OK;
}

Result readFile(const char* path, std::string& out, std::size_t maxSize) {
    const FileDescriptor file(::open(path, O_RDONLY));
    if (!file) {
        return resultFromErrno(errno, Result::Other);
    }
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[maxSize == 0 ? 1 : maxSize]);
    if (!buffer) {
        return Result::OutOfMemory;
    }
    const ssize_t count = ::read(file.get(), buffer.get(), maxSize);
    if (count < 0) {
        return Result::ReadFailed;
    }
    out.assign(buffer.get(), static_cast<std::size_t>(count));
    return Result::OK;
}

Result fileExists(const char* path) {
    if (::access(path, F_OK) == 0) {
        return Result::OK;
    }
    return resultFromErrno(errno, Result::Other);
}

Result removeFile(const char* path) {
    if (::unlink(path) == 0) {
        return Result::OK;
    }
    return resultFromErrno(errno, Result::Other);
}

Result makeDirectory(const char* path) {
    if (::mkdir(path, 0755) == 0) {
        return Result::OK;
    }
    return resultFromErrno(errno, Result::Other);
}

std::string joinPath(const char* directory, const char* name) {
    std::string path(directory);
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

}  // namespace RawIO
