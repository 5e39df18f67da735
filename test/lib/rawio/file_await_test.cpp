// Waiting for directory entries with inotify, in the sandbox's private /tmp.
#include "lib/rawio/file_await.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "descriptors.hpp"
#include "lib/rawio/Exception.hpp"
#include "lib/rawio/RawIO.hpp"
#include "sandbox/Sandbox.hpp"
#include "support/Syscalls.hpp"

namespace RawIO {
namespace {

using bw_selftest::TemporaryCStringView;
using bw_test::msSince;
using Clock = std::chrono::steady_clock;

const std::vector<long> kInotifyInit = {
#ifdef SYS_inotify_init
    SYS_inotify_init,
#endif
    SYS_inotify_init1};
const std::vector<long> kInotifyAddWatch = {SYS_inotify_add_watch};
// The wait itself: reached only once the watch is set and the entry was tested again.
const std::vector<long> kPoll = {
#ifdef SYS_poll
    SYS_poll,
#endif
    SYS_ppoll};

int code(Result result) {
    return static_cast<int>(result) & 0xff;
}

// awaitFileOrThrow's outcome as an exit code: 1 found, 0 not found, 2 thrown.
int thrownCode(const char* directory, const char* name, std::int64_t timeoutMs) {
    try {
        return awaitFileOrThrow(directory, TemporaryCStringView(name), timeoutMs) ? 1 : 0;
    } catch (const Exception&) {
        return 2;
    }
}

void makeEntry(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
    ::close(fd);
}

// Creates other entries in `directory` every few milliseconds until stopped.
class Busybody {
  public:
    explicit Busybody(const std::string& directory)
        : thread([this, directory] {
              for (int n = 0; !stop; ++n) {
                  makeEntry(directory + "/other" + std::to_string(n));
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
          }) {}
    Busybody(const Busybody&) = delete;
    Busybody& operator=(const Busybody&) = delete;
    ~Busybody() {
        stop = true;
        thread.join();
    }

  private:
    std::atomic<bool> stop{false};
    std::thread thread;
};

class FileAwait : public bw_sim::SandboxTest {
  protected:
    // Runs `body` in the sandbox with an empty /tmp/dev.
    static void inSandbox(const std::function<void()>& body) {
        bw_sim::runInSandbox(
            [&] {
                ASSERT_EQ(0, ::mkdir("/tmp/dev", 0755));
                body();
            },
            std::chrono::milliseconds(20000));
    }
};

TEST_F(FileAwait, PresentEntryIsFoundWithoutAnInotifyInstance) {
    inSandbox([] {
        makeEntry("/tmp/dev/rtc0");
        const auto run = bw_test::runTrapped(
            [] {
                const bool plain = awaitFile("rtc0", "/tmp/dev", 1000) == Result::OK;
                const bool throwing = thrownCode("/tmp/dev", "rtc0", 1000) == 1;
                const bool unlimited = thrownCode("/tmp/dev/", "rtc0", -1) == 1;
                return plain && throwing && unlimited ? 0 : 1;
            },
            kInotifyInit);
        EXPECT_EQ(0, run.exitCode);
        EXPECT_FALSE(run.trapped);
    });
}

TEST_F(FileAwait, EntryCreatedAfterTheWatchIsFoundByItsEvent) {
    inSandbox([] {
        auto start = Clock::now();
        auto run = bw_test::runTrapped([] { return code(awaitFile("rtc0", "/tmp/dev", 10000)); },
                                       kPoll, [] { makeEntry("/tmp/dev/rtc0"); });
        EXPECT_TRUE(run.trapped);
        EXPECT_EQ(code(Result::OK), run.exitCode);
        EXPECT_LT(msSince(start), 5000);

        ASSERT_EQ(0, ::mkdir("/tmp/dev2", 0755));
        start = Clock::now();
        run = bw_test::runTrapped([] { return thrownCode("/tmp/dev2", "rtc0", 10000); }, kPoll,
                                  [] { makeEntry("/tmp/dev2/rtc0"); });
        EXPECT_TRUE(run.trapped);
        EXPECT_EQ(1, run.exitCode);
        EXPECT_LT(msSince(start), 5000);
    });
}

TEST_F(FileAwait, WithoutLimitTheEventStillEndsTheWait) {
    inSandbox([] {
        auto run = bw_test::runTrapped([] { return code(awaitFile("rtc0", "/tmp/dev", -1)); },
                                       kPoll, [] { makeEntry("/tmp/dev/rtc0"); });
        EXPECT_EQ(code(Result::OK), run.exitCode);
        ASSERT_EQ(0, ::mkdir("/tmp/dev2", 0755));
        run = bw_test::runTrapped([] { return thrownCode("/tmp/dev2", "rtc0", -1); }, kPoll,
                                  [] { makeEntry("/tmp/dev2/rtc0"); });
        EXPECT_EQ(1, run.exitCode);
    });
}

// Held at the start of the watch, the entry appears after the first test and before the
// watch can see it: only the second test can find it.
TEST_F(FileAwait, EntryCreatedBetweenTheFirstTestAndTheWatchIsFoundByTheSecondTest) {
    inSandbox([] {
        // Timeout 0 never polls: without the second test this would time out.
        auto run = bw_test::runTrapped([] { return code(awaitFile("rtc0", "/tmp/dev", 0)); },
                                       kInotifyAddWatch, [] { makeEntry("/tmp/dev/rtc0"); });
        EXPECT_TRUE(run.trapped);
        EXPECT_EQ(code(Result::OK), run.exitCode);

        ASSERT_EQ(0, ::mkdir("/tmp/dev2", 0755));
        const auto start = Clock::now();
        run = bw_test::runTrapped([] { return thrownCode("/tmp/dev2", "rtc0", 5000); },
                                  kInotifyAddWatch, [] { makeEntry("/tmp/dev2/rtc0"); });
        EXPECT_TRUE(run.trapped);
        EXPECT_EQ(1, run.exitCode);
        EXPECT_LT(msSince(start), 2500);

        ASSERT_EQ(0, ::mkdir("/tmp/dev3", 0755));
        run = bw_test::runTrapped([] { return thrownCode("/tmp/dev3", "rtc0", -1); },
                                  kInotifyAddWatch, [] { makeEntry("/tmp/dev3/rtc0"); });
        EXPECT_EQ(1, run.exitCode);
    });
}

TEST_F(FileAwait, OtherEntriesNeitherEndNorExtendTheWait) {
    inSandbox([] {
        {
            const Busybody others("/tmp/dev");
            const auto start = Clock::now();
            EXPECT_EQ(Result::TimedOut, awaitFile("rtc0", "/tmp/dev", 200));
            EXPECT_GE(msSince(start), 190);
            EXPECT_LT(msSince(start), 1000);
        }
        {
            const Busybody others("/tmp/dev");
            const auto start = Clock::now();
            EXPECT_FALSE(awaitFileOrThrow("/tmp/dev", TemporaryCStringView("rtc0"), 200));
            EXPECT_GE(msSince(start), 190);
            EXPECT_LT(msSince(start), 1000);
        }
    });
}

TEST_F(FileAwait, APrefixOfTheCreatedNameDoesNotMatch) {
    inSandbox([] {
        auto run = bw_test::runTrapped([] { return code(awaitFile("rtc", "/tmp/dev", 100)); },
                                       kPoll, [] { makeEntry("/tmp/dev/rtc0"); });
        EXPECT_TRUE(run.trapped);
        EXPECT_EQ(code(Result::TimedOut), run.exitCode);
        ASSERT_EQ(0, ::mkdir("/tmp/dev2", 0755));
        run = bw_test::runTrapped([] { return thrownCode("/tmp/dev2", "rtc0", 100); }, kPoll,
                                  [] { makeEntry("/tmp/dev2/rtc"); });
        EXPECT_TRUE(run.trapped);
        EXPECT_EQ(0, run.exitCode);
    });
}

TEST_F(FileAwait, TimeoutZeroDoesNotWait) {
    inSandbox([] {
        const auto start = Clock::now();
        EXPECT_EQ(Result::TimedOut, awaitFile("rtc0", "/tmp/dev", 0));
        // Only -1 means no limit; any other negative timeout is used up already.
        EXPECT_EQ(Result::TimedOut, awaitFile("rtc0", "/tmp/dev", -2));
        EXPECT_LT(msSince(start), 500);
        const auto run =
            bw_test::runTrapped([] { return thrownCode("/tmp/dev", "rtc0", 0); }, kInotifyInit);
        EXPECT_EQ(0, run.exitCode);
        EXPECT_FALSE(run.trapped);
    });
}

TEST_F(FileAwait, AMissingDirectoryOrAFileCannotBeWatched) {
    inSandbox([] {
        EXPECT_EQ(Result::DoesNotExist, awaitFile("rtc0", "/tmp/missing", 1000));
        try {
            (void)awaitFileOrThrow("/tmp/missing", TemporaryCStringView("rtc0"), 1000);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_STREQ("IO-Error on inotify_add_watch()", e.what());
            EXPECT_EQ(ENOENT, e.errorNumber);
        }
        makeEntry("/tmp/file");
        // ENOTDIR has no mapping.
        EXPECT_EQ(Result::Other, awaitFile("rtc0", "/tmp/file", 1000));
        EXPECT_EQ(2, thrownCode("/tmp/file", "rtc0", 1000));
    });
}

TEST_F(FileAwait, RemovalOfTheDirectoryIsNoMatchAndTheDeadlineHolds) {
    inSandbox([] {
        // The removal reports unnamed events; they are skipped and the wait runs out.
        const auto start = Clock::now();
        const auto run =
            bw_test::runTrapped([] { return code(awaitFile("rtc0", "/tmp/dev", 150)); }, kPoll,
                                [] { ASSERT_EQ(0, ::rmdir("/tmp/dev")); });
        EXPECT_TRUE(run.trapped);
        EXPECT_EQ(code(Result::TimedOut), run.exitCode);
        EXPECT_GE(msSince(start), 140);
    });
}

TEST_F(FileAwait, PollFailuresAreReported) {
    inSandbox([] {
        const auto run = bw_test::runTrapped(
            [] {
                if (!bw_test::forcePollFailure(EINTR)) {
                    return 100;
                }
                const bool plain = awaitFile("rtc0", "/tmp/dev", 100) == Result::PollFailed;
                const bool throwing = thrownCode("/tmp/dev", "rtc0", 100) == 2;
                return plain && throwing ? 0 : 1;
            },
            {});
        EXPECT_EQ(0, run.exitCode);
    });
}

// A directory deep enough that directory + "/" + name is at least 1024 characters.
std::string deepDirectory() {
    std::string directory = "/tmp/dev";
    for (int level = 0; level < 4; ++level) {
        directory += "/" + std::string(250, static_cast<char>('a' + level));
        EXPECT_EQ(0, ::mkdir(directory.c_str(), 0755)) << std::strerror(errno);
    }
    return directory;
}

TEST_F(FileAwait, APathOfMoreThan1023CharactersIsFoundOnlyByItsEvent) {
    inSandbox([] {
        const std::string directory = deepDirectory();
        const std::string name = "device-entry-with-a-long-name";
        ASSERT_GE(directory.size() + 1 + name.size(), 1024U);
        makeEntry(directory + "/" + name);
        // The existence test cannot hold the path, so the present entry is not seen...
        EXPECT_FALSE(awaitFileOrThrow(directory, name, 50));
        // ...while the joined path of any length finds it.
        EXPECT_EQ(Result::OK, awaitFile(name.c_str(), directory.c_str(), 50));
        const std::string fresh = name + "-2";
        const auto run =
            bw_test::runTrapped([&] { return thrownCode(directory.c_str(), fresh.c_str(), 5000); },
                                kPoll, [&] { makeEntry(directory + "/" + fresh); });
        EXPECT_EQ(1, run.exitCode);
    });
}

dir_path joined(const std::string& directory, const std::string& name) {
    return dir_path(directory, name);
}

TEST(DirPath, JoinsWithOneSlashAndRefusesTooLongPaths) {
    EXPECT_STREQ("/dev/rtc0", joined("/dev", "rtc0").c_str());
    EXPECT_STREQ("/dev/rtc0", joined("/dev/", "rtc0").c_str());
    EXPECT_STREQ("/rtc0", joined("", "rtc0").c_str());
    // Only the viewed bytes count.
    EXPECT_STREQ("/dev/rtc", dir_path(bw_selftest::TemporaryStringView("/dev/x", 4),
                                      bw_selftest::TemporaryStringView("rtc0", 3))
                                 .c_str());
    const std::string longest(1023 - 5, 'd');
    const dir_path fits = joined(longest, "rtc0");
    EXPECT_TRUE(fits.isValid());
    EXPECT_EQ(1023U, std::strlen(fits.c_str()));
    const dir_path tooLong = joined(longest + "x", "rtc0");
    EXPECT_FALSE(tooLong.isValid());
    EXPECT_STREQ("", tooLong.c_str());
    EXPECT_FALSE(tooLong.exists());
    EXPECT_FALSE(joined(std::string(5000, 'd'), "").isValid());
    EXPECT_TRUE(joined("/", "").exists());
    EXPECT_FALSE(joined("/", "no-such-entry-here").exists());
}

// Events laid out as the kernel does: header, then the NUL-padded name.
class Events {
  public:
    Events& add(const std::string& name, std::uint32_t length) {
        inotify_event header{};
        header.wd = 1;
        header.mask = IN_CREATE;
        header.len = length;
        const auto* raw = reinterpret_cast<const char*>(&header);
        bytes.append(raw, sizeof header);
        std::string padded = name;
        padded.resize(length, '\0');
        bytes += padded;
        return *this;
    }
    const std::string& all() const { return bytes; }

  private:
    std::string bytes;
};

bool walk(const char* events, std::size_t count, const char* name) {
    return eventsNameEntry(events, count, TemporaryCStringView(name));
}

TEST(EventWalk, MatchesWholeNamesOnly) {
    const Events events = Events().add("rtc0", 16);
    const std::string& bytes = events.all();
    EXPECT_TRUE(walk(bytes.data(), bytes.size(), "rtc0"));
    EXPECT_FALSE(walk(bytes.data(), bytes.size(), "rtc"));
    EXPECT_FALSE(walk(bytes.data(), bytes.size(), "rtc00"));
    EXPECT_FALSE(walk(bytes.data(), bytes.size(), "RTC0"));
}

TEST(EventWalk, SkipsUnnamedEventsAndWalksOn) {
    const Events events = Events().add("", 0).add("ttyUSB0", 16).add("rtc0", 16);
    const std::string& bytes = events.all();
    EXPECT_TRUE(walk(bytes.data(), bytes.size(), "rtc0"));
    EXPECT_TRUE(walk(bytes.data(), bytes.size(), "ttyUSB0"));
    EXPECT_FALSE(walk(bytes.data(), bytes.size(), ""));
    EXPECT_FALSE(walk(bytes.data(), 0, "rtc0"));
}

TEST(EventWalk, NeverLooksPastTheBytesRead) {
    const Events events = Events().add("ttyUSB0", 16).add("rtc0", 16);
    const std::string& bytes = events.all();
    // The second header cut short.
    EXPECT_FALSE(walk(bytes.data(), 32 + 10, "rtc0"));
    // The second name runs past the end, even though "rtc0" itself lies within.
    EXPECT_FALSE(walk(bytes.data(), 32 + 16 + 8, "rtc0"));
    EXPECT_TRUE(walk(bytes.data(), 32 + 16 + 16, "rtc0"));
    // A length that would wrap an unchecked offset ends the walk.
    const Events huge = Events().add("rtc0", 4);
    std::string wrapped = huge.all();
    const std::uint32_t absurd = 0xFFFFFFFFU;
    std::memcpy(&wrapped[offsetof(inotify_event, len)], &absurd, sizeof absurd);
    EXPECT_FALSE(walk(wrapped.data(), wrapped.size(), "rtc0"));
}

TEST(EventWalk, ANameWithoutItsNulEndsAtItsLength) {
    const Events events = Events().add("rtc0", 4).add("x", 16);
    const std::string& bytes = events.all();
    EXPECT_TRUE(walk(bytes.data(), bytes.size(), "rtc0"));
    EXPECT_TRUE(walk(bytes.data(), bytes.size(), "x"));
}

}  // namespace
}  // namespace RawIO
