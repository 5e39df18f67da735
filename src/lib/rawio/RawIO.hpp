// Result codes of the Raw I/O library and its error-code file operations.
#pragma once

#include <cstddef>
#include <string>

namespace RawIO {

enum class Result : int {
    Other = -1,
    OK = 0,
    PermissionDenied = 1,
    DoesNotExist = 2,
    WriteFailed = 3,
    ReadFailed = 4,
    OutOfMemory = 5,
    TimedOut = 6,
    IncompleteWrite = 7,
    IncompleteRead = 8,
    PollFailed = 9,
    NoTimer = 10,
};

// The Result for a failed call's errno; `fallback` where the errno has no mapping.
Result resultFromErrno(int errorNumber, Result fallback);

// The printed suffix (": Timed out" ...); "" for OK and for unknown values. Never null.
const char* resultText(Result result);

// OK: prints nothing, true. Otherwise error(0, 0, "%s%s", prefix, suffix), false.
bool reportError(Result result, const char* prefix);

// Completes a narrated line on standard output with ": OK" or the suffix. True for OK.
bool printResult(Result result);

// Writes `data` with one write() into an existing file (sysfs attributes): never creates
// or truncates.
Result writeFile(const char* path, const std::string& data);
// One read() of at most `maxSize` bytes into `out`; `out` is untouched on failure.
Result readFile(const char* path, std::string& out, std::size_t maxSize);
// Existence only (access F_OK), with the real user and group.
Result fileExists(const char* path);
Result removeFile(const char* path);
// One level, mode 0755.
Result makeDirectory(const char* path);

// directory + "/" + name, without doubling a trailing slash; an empty directory gives name.
std::string joinPath(const char* directory, const char* name);

}  // namespace RawIO
