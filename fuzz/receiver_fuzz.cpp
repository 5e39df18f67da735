// The ESP3 frame receiver on a hostile stream: the input is cut into pieces of the fuzzer's
// choosing, with the clock moving on between them. Every delivered frame must be whole and
// valid, and after any input a valid frame must still come through: a wedged receiver is a
// finding.
#include <dlfcn.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "check.hpp"
#include "enocean/packet.hpp"
#include "enocean/receiver.hpp"
#include "line_check.hpp"

namespace {

// The receiver's clock is this program's, not the machine's, while a piece is handled.
bool fakeClock = false;
std::uint64_t fakeNowMs = 1000000;

}  // namespace

// Replaces the C library's for the whole program; libFuzzer's own timing keeps the real one.
extern "C" int clock_gettime(clockid_t clock, timespec* reading) noexcept {
    if (fakeClock && clock == CLOCK_MONOTONIC) {
        reading->tv_sec = static_cast<time_t>(fakeNowMs / 1000);
        reading->tv_nsec = static_cast<long>(fakeNowMs % 1000 * 1000000);
        return 0;
    }
    // The C library's own, which reads the clock without a system call: libFuzzer reads it
    // twice for every input.
    using ClockGettime = int (*)(clockid_t, timespec*);
    static const auto next = reinterpret_cast<ClockGettime>(::dlsym(RTLD_NEXT, "clock_gettime"));
    return next != nullptr ? next(clock, reading)
                           : static_cast<int>(::syscall(SYS_clock_gettime, clock, reading));
}

namespace {

using bw_selftest::FrameReceiver;
using bw_selftest::Packet;

// The receiver's clock is the fake one while this lives.
class FakeClock {
  public:
    FakeClock() { fakeClock = true; }
    ~FakeClock() { fakeClock = false; }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;
};

// A receiver with a stream of pending bytes that reach it only as fast as it reads.
class Link {
  public:
    Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // `count` bytes, `times` over. A repeated piece is kept once and copied out only as the
    // receiver reads it: writing out a long stream first cost more than reading it.
    void send(const std::uint8_t* bytes, std::size_t count, unsigned times = 1) {
        if (count == 0) {
            return;
        }
        pieces_.push_back({bytes_.size(), count, times});
        bytes_.insert(bytes_.end(), bytes, bytes + count);
    }
    void wait(std::uint64_t ms) { fakeNowMs += ms; }

    // One turn of the gateway's loop.
    void run() {
        receiver_.run(
            [this] { return receiver_.fill(readPending()); },
            [this](const std::uint8_t* frame, std::uint32_t length) { received(frame, length); });
    }

    // Lets every candidate frame that waits for bytes time out, as a quiet line does.
    // False when the receiver does not come back to searching.
    bool drain() {
        for (std::uint32_t turn = 0; turn < FrameReceiver::kBufferSize + 16; ++turn) {
            wait(FrameReceiver::kStallTimeoutMs);
            run();
            if (idle()) {
                return true;
            }
        }
        return false;
    }

    // Searching, with nothing pending.
    bool idle() const {
        return receiver_.state() == FrameReceiver::State::SearchSync && pieces_.empty();
    }

    // Frames of earlier inputs are checked again, so that what an input reaches does not
    // depend on the inputs before it.
    void forgetFrames() {
        lastFrame_.clear();
        checked_.clear();
        checkedBytes_ = 0;
    }

    const std::string& lastFrame() const { return lastFrame_; }
    std::size_t frames() const { return frames_; }

  private:
    FrameReceiver::Reader readPending() {
        return [this](std::uint8_t* destination, std::uint32_t room) {
            std::size_t count = 0;
            for (std::size_t left = std::min<std::size_t>(room, kChunk);
                 left > 0 && next_ < pieces_.size();) {
                Piece& piece = pieces_[next_];
                const std::size_t part = std::min(left, piece.count - piece.taken);
                std::memcpy(destination + count, bytes_.data() + piece.at + piece.taken, part);
                count += part;
                left -= part;
                piece.taken += part;
                if (piece.taken == piece.count) {
                    piece.taken = 0;
                    next_ += --piece.times == 0 ? 1 : 0;
                }
            }
            if (next_ == pieces_.size()) {
                pieces_.clear();
                bytes_.clear();
                next_ = 0;
            }
            return static_cast<std::uint32_t>(count);
        };
    }

    void received(const std::uint8_t* frame, std::uint32_t length) {
        ++frames_;
        // The whole frame must be readable: the comparison and the copy go past no end
        // unnoticed.
        if (lastFrame_.size() == length &&
            std::equal(frame, frame + length, lastFrame_.begin(),
                       [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); })) {
            return;
        }
        lastFrame_.assign(reinterpret_cast<const char*>(frame), length);
        // The checks and the description are the frame's alone: a frame met before in this
        // input passed them then. An input that sends a few frames in turn would otherwise
        // have each described again, and describing was most of its time.
        if (checked_.count(lastFrame_) != 0) {
            return;
        }
        BW_FUZZ_CHECK(length >= Packet::kFrameOverhead && length <= Packet::kMaxFrameLength);
        BW_FUZZ_CHECK(frame[0] == Packet::kSyncByte);
        BW_FUZZ_CHECK(Packet::checkHeaderCRC(frame));
        BW_FUZZ_CHECK(Packet::frameLengthFromHeader(frame) == length);
        BW_FUZZ_CHECK(Packet::checkDataCRC(frame, length));
        description_.restart();
        description_ << Packet(frame, length);
        BW_FUZZ_CHECK(description_.front() == '[' && description_.back() == ']' &&
                      !description_.hasLineFeed());
        // Bounded, so that an input of many long frames does not hold them all.
        if (checkedBytes_ > kCheckedLimit) {
            checked_.clear();
            checkedBytes_ = 0;
        }
        checked_.insert(lastFrame_);
        checkedBytes_ += length;
    }

    // As much as one read of the serial port brings.
    static constexpr std::size_t kChunk = 4096;

    FrameReceiver receiver_;
    // Bytes sent and not yet read: pieces_[next_] onwards, each piece's bytes in bytes_.
    struct Piece {
        std::size_t at;
        std::size_t count;
        unsigned times;         // repetitions still to read, this one included
        std::size_t taken = 0;  // bytes of this repetition already read
    };
    std::vector<Piece> pieces_;
    std::size_t next_ = 0;
    std::vector<std::uint8_t> bytes_;
    std::string lastFrame_;
    std::unordered_set<std::string> checked_;
    std::size_t checkedBytes_ = 0;
    static constexpr std::size_t kCheckedLimit = 1 << 20;
    bw_fuzz::LineCheck description_;
    std::size_t frames_ = 0;
};

// A piece, possibly repeated so that the buffer's limits are reached too: two pieces pass the
// mark where read bytes are moved out, or carry a maximal frame. The fuzzer favours inputs
// that repeat more, and more repeats made the average input several times slower.
constexpr std::size_t kLongestPiece = 600;
constexpr unsigned kMostRepeats = 64;
static_assert(2 * kLongestPiece * kMostRepeats > FrameReceiver::kCompactThreshold &&
                  2 * kLongestPiece * kMostRepeats > Packet::kMaxFrameLength,
              "two pieces reach the buffer's limits");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One link for the whole run. An input that passes ends with the module's answer taken
    // whole and nothing behind it, so the next input meets a receiver as a new one would be;
    // making a new one each time cost more than the run (its 256 KiB buffer is mapped and
    // unmapped by the sanitizer's allocator for every input).
    static Link link;
    const FakeClock clock;
    BW_FUZZ_CHECK(link.idle());
    FuzzedDataProvider input(data, size);
    while (input.remaining_bytes() > 0) {
        std::uint8_t piece[kLongestPiece];
        const auto length = input.ConsumeIntegralInRange<std::size_t>(0, sizeof piece);
        const auto repeats = input.ConsumeIntegralInRange<unsigned>(1, 8) == 8
                                 ? input.ConsumeIntegralInRange<unsigned>(1, kMostRepeats)
                                 : 1U;
        const auto gapMs = input.ConsumeIntegralInRange<std::uint64_t>(0, 150);
        link.send(piece, input.ConsumeData(piece, length), repeats);
        link.wait(gapMs);
        link.run();
    }

    // The line goes quiet, a few idle bytes follow (so that no sync byte of the input is
    // left to begin a frame with them), and then a module's answer must come through whole.
    BW_FUZZ_CHECK(link.drain());
    const std::uint8_t idle[Packet::kHeaderSize] = {};
    link.send(idle, sizeof idle);
    BW_FUZZ_CHECK(link.drain());
    const std::uint8_t okay = 0;
    const Packet answer(bw_selftest::PacketType::RESPONSE, &okay, 1, nullptr, 0);
    const std::size_t before = link.frames();
    link.send(answer.frame(), answer.totalLength());
    link.run();
    BW_FUZZ_CHECK(link.frames() == before + 1);
    BW_FUZZ_CHECK(link.lastFrame() ==
                  std::string(reinterpret_cast<const char*>(answer.frame()), answer.totalLength()));
    // What the input allocated goes with it: libFuzzer runs an input that leaves more
    // allocations than it freed a second time, and then looks for leaks.
    link.forgetFrames();
    return 0;
}
