// Shell commands and file checks that narrate each step on standard output.
#pragma once

namespace bw_selftest {

// What every caller of runCommandWithRetries passes: 5 s between runs, at most 3 more runs.
constexpr int kRetryDelaySeconds = 5;
constexpr int kRetries = 3;

// "Running <command>", then the command through the shell. True only for a normal exit
// with status 0.
[[nodiscard]] bool runCommand(const char* command);

// runCommand, and after a failure up to `retries` more runs, each after "Waiting <delay>s
// to retry..." and a pause of `delaySeconds`. True as soon as one run succeeds.
[[nodiscard]] bool runCommandWithRetries(const char* command, int delaySeconds, int retries);

// "Checking <path>" completed with the outcome; true when the path exists.
[[nodiscard]] bool checkExists(const char* path);
// The same line; true only when the path does not exist (other failures are false).
[[nodiscard]] bool checkAbsent(const char* path);

// "Removing <path>" completed with the outcome; an absent file counts as removed.
[[nodiscard]] bool removeIfPresent(const char* path);

}  // namespace bw_selftest
