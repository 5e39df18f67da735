// Result codes of the Raw I/O library and its error-code file operations.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Descriptor I/O. Timeouts are milliseconds; a negative one lets the first poll wait without
// limit. Nothing here changes the descriptor's flags or retries on EINTR.

// One write() of all `length` bytes; a shorter count is IncompleteWrite.
[[nodiscard]] Result writeAll(int fd, const void* data, std::size_t length);
// One read() of `length` bytes; a shorter count, end of file included, is IncompleteRead.
[[nodiscard]] Result readAll(int fd, void* buffer, std::size_t length);
// Drops whatever input is pending now; returns once nothing is left or end of file is seen.
[[nodiscard]] Result discardInput(int fd);
// Transfers until `length` bytes have moved (OK) or the deadline passes (TimedOut, even
// when some bytes have moved).
[[nodiscard]] Result readWithTimeout(int fd, void* buffer, std::size_t length, int timeoutMs);
[[nodiscard]] Result writeWithTimeout(int fd, const void* data, std::size_t length, int timeoutMs);
// One poll within the timeout, then readAll / writeAll of one byte.
[[nodiscard]] Result readByte(int fd, std::uint8_t* byte, int timeoutMs);
[[nodiscard]] Result writeByte(int fd, std::uint8_t byte, int timeoutMs);

// Waits until `directory` holds an entry called `name`: tested at once, then watched with
// inotify for creations. Timeout -1 waits without limit.
[[nodiscard]] Result awaitFile(const char* name, const char* directory, int timeoutMs);

}  // namespace RawIO
