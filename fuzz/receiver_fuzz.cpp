// The ESP3 frame receiver on a hostile stream: the input is cut into pieces of the fuzzer's
// choosing, with the clock moving on between them. Every delivered frame must be whole and
// valid, and after any input a valid frame must still come through: a wedged receiver is a
// finding.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
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
    return static_cast<int>(::syscall(SYS_clock_gettime, clock, reading));
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

    // `count` bytes, `times` over.
    void send(const std::uint8_t* bytes, std::size_t count, unsigned times = 1) {
        if (count == 0) {
            return;
        }
        std::size_t at = pending_.size();
        pending_.resize(at + count * times);
        for (unsigned i = 0; i < times; ++i, at += count) {
            std::memcpy(pending_.data() + at, bytes, count);
        }
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
        return receiver_.state() == FrameReceiver::State::SearchSync && pending_.empty();
    }

    const std::vector<std::uint8_t>& lastFrame() const { return lastFrame_; }
    std::size_t frames() const { return frames_; }

  private:
    FrameReceiver::Reader readPending() {
        return [this](std::uint8_t* destination, std::uint32_t room) {
            const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(
                room, std::min<std::size_t>(pending_.size() - taken_, kChunk)));
            std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(taken_), count, destination);
            // Read bytes are only counted: moving the rest to the front on every read made
            // a long stream cost its length squared.
            taken_ += count;
            if (taken_ == pending_.size()) {
                pending_.clear();
                taken_ = 0;
            }
            return count;
        };
    }

    void received(const std::uint8_t* frame, std::uint32_t length) {
        BW_FUZZ_CHECK(length >= Packet::kFrameOverhead && length <= Packet::kMaxFrameLength);
        BW_FUZZ_CHECK(frame[0] == Packet::kSyncByte);
        BW_FUZZ_CHECK(Packet::checkHeaderCRC(frame));
        BW_FUZZ_CHECK(Packet::frameLengthFromHeader(frame) == length);
        BW_FUZZ_CHECK(Packet::checkDataCRC(frame, length));
        // The whole frame must be readable: the comparison and the copy go past no end
        // unnoticed. A repeated frame's description was checked when it came first.
        ++frames_;
        if (lastFrame_.size() == length && std::equal(frame, frame + length, lastFrame_.begin())) {
            return;
        }
        lastFrame_.assign(frame, frame + length);
        description_.restart();
        description_ << Packet(lastFrame_.data(), length);
        BW_FUZZ_CHECK(description_.front() == '[' && description_.back() == ']' &&
                      !description_.hasLineFeed());
    }

    // As much as one read of the serial port brings.
    static constexpr std::size_t kChunk = 4096;

    FrameReceiver receiver_;
    std::vector<std::uint8_t> pending_;
    std::size_t taken_ = 0;  // bytes of pending_ already read
    std::vector<std::uint8_t> lastFrame_;
    bw_fuzz::LineCheck description_;
    std::size_t frames_ = 0;
};

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
        // A piece, possibly repeated so that the buffer's limits are reached too.
        std::uint8_t piece[600];
        const auto length = input.ConsumeIntegralInRange<std::size_t>(0, sizeof piece);
        const auto repeats = input.ConsumeIntegralInRange<unsigned>(1, 8) == 8
                                 ? input.ConsumeIntegralInRange<unsigned>(1, 600)
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
                  std::vector<std::uint8_t>(answer.frame(), answer.frame() + answer.totalLength()));
    return 0;
}
