// Cuts the bytes received from the module into frames whose two CRCs are valid. The state
// persists between calls, so a frame that arrives in pieces is completed by a later call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "util/milliclock.hpp"

namespace bw_selftest {

class FrameReceiver {
  public:
    enum class State {
        SearchSync = 0,
        CheckHeader = 1,
        AwaitFrame = 2,
        CheckData = 3,
        Compact = 4
    };

    static constexpr std::uint32_t kBufferSize = 0x40000;
    // Consumed bytes are moved out only past this mark, so small frames rarely move memory.
    static constexpr std::uint32_t kCompactThreshold = 0x10000;
    // The serial protocol's inter-byte limit: a frame with a longer gap will not be
    // completed, so its sync byte was not one.
    static constexpr std::uint64_t kStallTimeoutMs = 100;

    // Puts at most `room` bytes at `destination`; returns how many (0: none now).
    using Reader = std::function<std::uint32_t(std::uint8_t* destination, std::uint32_t room)>;
    // Reads more through fill(); returns how many bytes arrived.
    using ReadMore = std::function<std::uint32_t()>;
    using Deliver = std::function<void(const std::uint8_t* frame, std::uint32_t length)>;

    FrameReceiver();
    FrameReceiver(const FrameReceiver&) = delete;
    FrameReceiver& operator=(const FrameReceiver&) = delete;

    // Appends what `read` delivers to the buffer; returns the count.
    std::uint32_t fill(const Reader& read);
    // Runs the state machine, handing every valid frame to `deliver`, until `readMore`
    // brings nothing.
    void run(const ReadMore& readMore, const Deliver& deliver);

    State state() const { return state_; }

  private:
    enum class Await { Complete, Waiting, Stalled };

    void searchSync();
    void checkHeader();
    Await awaitFrame(const ReadMore& readMore);
    void checkData(const Deliver& deliver);
    void compact();
    // Drops every buffered byte.
    void empty();
    void moveUnreadToFront();
    // Makes the running CRCs cover [from, to].
    void runCrc(std::uint32_t from, std::uint32_t to);
    std::uint32_t unread() const { return bufferFill_ - readPos_; }

    State state_ = State::SearchSync;
    std::uint32_t bufferFill_ = 0;
    std::uint32_t readPos_ = 0;
    std::uint32_t frameEnd_ = 0;
    MilliClock sinceLastByte_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    // Running CRCs over [runningFrom_, runningTo_]: running_[i + 1] is running_[i] carried
    // over buffer_[i]. A rejected candidate drops only its sync byte, so on a hostile line
    // candidates overlap and each would otherwise be read again in full, up to 64 KiB for
    // every sync byte. They are made only as far as a candidate needs, so noise costs none.
    std::unique_ptr<std::uint8_t[]> running_;
    std::uint32_t runningFrom_ = 0;
    std::uint32_t runningTo_ = 0;
};

}  // namespace bw_selftest
