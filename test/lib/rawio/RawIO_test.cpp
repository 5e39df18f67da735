#include "lib/rawio/RawIO.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>

#include "lib/rawio/Exception.hpp"
#include "sandbox/Sandbox.hpp"
#include "support/Capture.hpp"

namespace RawIO {
namespace {

using bw_test::capture;
using bw_test::errorPrefix;

TEST(ResultFromErrno, MapsTheFourKnownNumbersAndFallsBackOtherwise) {
    EXPECT_EQ(Result::PermissionDenied, resultFromErrno(EPERM, Result::Other));
    EXPECT_EQ(Result::DoesNotExist, resultFromErrno(ENOENT, Result::WriteFailed));
    EXPECT_EQ(Result::OutOfMemory, resultFromErrno(ENOMEM, Result::Other));
    EXPECT_EQ(Result::PermissionDenied, resultFromErrno(EACCES, Result::Other));
    EXPECT_EQ(Result::ReadFailed, resultFromErrno(EAGAIN, Result::ReadFailed));
    EXPECT_EQ(Result::WriteFailed, resultFromErrno(ENOSPC, Result::WriteFailed));
    EXPECT_EQ(Result::Other, resultFromErrno(0, Result::Other));
    EXPECT_EQ(Result::PollFailed, resultFromErrno(-5, Result::PollFailed));
    EXPECT_EQ(Result::ReadFailed, resultFromErrno(EIO, Result::ReadFailed));
}

TEST(ResultText, GivesTheSuffixesAndEmptyTextForOkAndUnknownValues) {
    EXPECT_STREQ("", resultText(Result::OK));
    EXPECT_STREQ("", resultText(Result::Other));
    EXPECT_STREQ(": Permission denied", resultText(Result::PermissionDenied));
    EXPECT_STREQ(": Does not exist", resultText(Result::DoesNotExist));
    EXPECT_STREQ(": Write failed", resultText(Result::WriteFailed));
    EXPECT_STREQ(": Read failed", resultText(Result::ReadFailed));
    EXPECT_STREQ(": Out of memory", resultText(Result::OutOfMemory));
    EXPECT_STREQ(": Timed out", resultText(Result::TimedOut));
    EXPECT_STREQ(": Not all expected data was written", resultText(Result::IncompleteWrite));
    EXPECT_STREQ(": Not all expected data was read", resultText(Result::IncompleteRead));
    EXPECT_STREQ(": Poll failed", resultText(Result::PollFailed));
    EXPECT_STREQ(": Unable to get timer for timeout handling", resultText(Result::NoTimer));
    EXPECT_STREQ("", resultText(static_cast<Result>(11)));
    EXPECT_STREQ("", resultText(static_cast<Result>(-2)));
}

TEST(PrintResult, CompletesTheNarratedLine) {
    bool ok = false;
    bool timedOut = true;
    const auto printed = capture([&] {
        std::cout << "Waiting for /dev/rtc0";
        ok = printResult(Result::OK);
        std::cout << "Waiting for /dev/rtc0";
        timedOut = printResult(Result::TimedOut);
    });
    EXPECT_TRUE(ok);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ("Waiting for /dev/rtc0: OK\nWaiting for /dev/rtc0: Timed out\n", printed.out);
    EXPECT_EQ("", printed.err);
}

TEST(PrintResult, OtherAndUnknownValuesGiveAnEmptyRemainderAndFail) {
    bool other = true;
    bool unknown = true;
    const auto printed = capture([&] {
        std::cout << "Checking /x";
        other = printResult(Result::Other);
        unknown = printResult(static_cast<Result>(11));
    });
    EXPECT_FALSE(other);
    EXPECT_FALSE(unknown);
    EXPECT_EQ("Checking /x\n\n", printed.out);
}

TEST(ReportError, PrintsNothingForOk) {
    bool result = false;
    const auto printed = capture([&] { result = reportError(Result::OK, "/sys/class/gpio"); });
    EXPECT_TRUE(result);
    EXPECT_EQ("", printed.out);
    EXPECT_EQ("", printed.err);
}

TEST(ReportError, WritesProgramNamePrefixAndSuffixToStandardError) {
    bool result = true;
    const auto printed = capture([&] {
        std::cout << "pending";
        result = reportError(Result::PermissionDenied, "/sys/class/gpio/gpio11/direction");
    });
    EXPECT_FALSE(result);
    EXPECT_EQ("pending", printed.out);
    EXPECT_EQ(errorPrefix() + "/sys/class/gpio/gpio11/direction: Permission denied\n", printed.err);
}

TEST(Exception, CarriesItsStaticMessageAndErrorNumber) {
    const Exception plain("file bigger than buffer");
    EXPECT_EQ(0, plain.errorNumber);
    EXPECT_STREQ("file bigger than buffer", plain.what());
    EXPECT_STREQ("", plain.systemErrorText());
    const Exception withErrno(ENOENT, "IO-Error on open()");
    EXPECT_EQ(ENOENT, withErrno.errorNumber);
    EXPECT_STREQ("IO-Error on open()", withErrno.what());
    EXPECT_STREQ(std::strerror(ENOENT), withErrno.systemErrorText());
    const std::exception& base = withErrno;
    EXPECT_STREQ("IO-Error on open()", base.what());
}

TEST(JoinPath, AddsOneSlashWhereNeeded) {
    EXPECT_EQ("/dev/rtc0", joinPath("/dev", "rtc0"));
    EXPECT_EQ("/dev/rtc0", joinPath("/dev/", "rtc0"));
    EXPECT_EQ("rtc0", joinPath("", "rtc0"));
    EXPECT_EQ("/rtc0", joinPath("/", "rtc0"));
    EXPECT_EQ("/dev///rtc0", joinPath("/dev//", "/rtc0"));
}

// The file operations run in a sandbox so that their paths are private to the test.
class FileOperations : public bw_sim::SandboxTest {};

TEST_F(FileOperations, ReadFileReturnsAtMostTheMaximum) {
    bw_sim::runInSandbox([] {
        bw_sim::sandbox::writeFile("/tmp/ten", "0123456789");
        std::string out = "old";
        EXPECT_EQ(Result::OK, readFile("/tmp/ten", out, 4));
        EXPECT_EQ("0123", out);
        EXPECT_EQ(Result::OK, readFile("/tmp/ten", out, 32));
        EXPECT_EQ("0123456789", out);
        bw_sim::sandbox::writeFile("/tmp/empty", "");
        EXPECT_EQ(Result::OK, readFile("/tmp/empty", out, 32));
        EXPECT_EQ("", out);
    });
}

TEST_F(FileOperations, ReadFileLeavesTheOutputAloneOnFailure) {
    bw_sim::runInSandbox([] {
        std::string out = "kept";
        EXPECT_EQ(Result::DoesNotExist, readFile("/tmp/missing", out, 32));
        EXPECT_EQ("kept", out);
        ASSERT_EQ(0, ::mkdir("/tmp/dir", 0755));
        EXPECT_EQ(Result::ReadFailed, readFile("/tmp/dir", out, 32));
        EXPECT_EQ("kept", out);
    });
}

TEST_F(FileOperations, ReadFileOpensBeforeItAllocates) {
    bw_sim::runInSandbox([] {
        bw_sim::sandbox::writeFile("/tmp/ten", "0123456789");
        std::string out = "kept";
        const std::size_t tooMuch = std::numeric_limits<std::size_t>::max();
        EXPECT_EQ(Result::DoesNotExist, readFile("/tmp/missing", out, tooMuch));
        EXPECT_EQ(Result::OutOfMemory, readFile("/tmp/ten", out, tooMuch));
        EXPECT_EQ("kept", out);
    });
}

TEST_F(FileOperations, WriteFileNeverCreatesAndNeverTruncates) {
    bw_sim::runInSandbox([] {
        EXPECT_EQ(Result::DoesNotExist, writeFile("/tmp/missing", "1"));
        EXPECT_NE(0, ::access("/tmp/missing", F_OK));
        bw_sim::sandbox::writeFile("/tmp/value", "abcdef");
        EXPECT_EQ(Result::OK, writeFile("/tmp/value", "XY"));
        std::string out;
        EXPECT_EQ(Result::OK, readFile("/tmp/value", out, 32));
        EXPECT_EQ("XYcdef", out);
    });
}

TEST_F(FileOperations, WriteFileReportsAFailedWriteWithItsFallback) {
    bw_sim::runInSandbox([] {
        // /dev/full takes no byte: ENOSPC has no mapping, so the write fallback applies.
        EXPECT_EQ(Result::WriteFailed, writeFile("/dev/full", "1"));
    });
}

TEST_F(FileOperations, ExistsRemoveAndMakeDirectory) {
    bw_sim::runInSandbox([] {
        EXPECT_EQ(Result::DoesNotExist, fileExists("/tmp/marker"));
        bw_sim::sandbox::writeFile("/tmp/marker", "");
        EXPECT_EQ(Result::OK, fileExists("/tmp/marker"));
        EXPECT_EQ(Result::OK, removeFile("/tmp/marker"));
        EXPECT_EQ(Result::DoesNotExist, removeFile("/tmp/marker"));
        EXPECT_EQ(Result::OK, makeDirectory("/tmp/d"));
        EXPECT_EQ(Result::OK, fileExists("/tmp/d"));
        EXPECT_EQ(Result::Other, makeDirectory("/tmp/d"));  // EEXIST has no mapping
        EXPECT_EQ(Result::DoesNotExist, makeDirectory("/tmp/a/b"));
        struct stat st {};
        ASSERT_EQ(0, ::stat("/tmp/d", &st));
        EXPECT_EQ(0755U & ~static_cast<unsigned>(::umask(0)), st.st_mode & 0777U);
    });
}

TEST_F(FileOperations, ExistsIsPermissionDeniedUnderAnUnsearchableDirectory) {
    BW_REQUIRE_ROOT();
    bw_sim::runInSandbox([] {
        bw_sim::sandbox::writeFile("/tmp/locked/marker", "");
        ASSERT_EQ(0, ::chmod("/tmp/locked", 0700));
        ASSERT_EQ(0, ::chown("/tmp/locked", 0, 0));
        bw_sim::runUnprivileged([] {
            EXPECT_EQ(Result::PermissionDenied, fileExists("/tmp/locked/marker"));
            EXPECT_EQ(Result::PermissionDenied, removeFile("/tmp/locked/marker"));
        });
        EXPECT_EQ(Result::OK, fileExists("/tmp/locked/marker"));
    });
}

}  // namespace
}  // namespace RawIO
