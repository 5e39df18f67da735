// The receiver state machine and its resynchronisation rule: a rejected candidate frame
// drops exactly its sync byte, so a frame starting inside it is still found.
#include "enocean/receiver.hpp"

#include <algorithm>
#include <cstring>
#include <iostream>

#include "enocean/packet.hpp"

namespace bw_selftest {

FrameReceiver::FrameReceiver()
    : buffer_(std::make_unique<std::uint8_t[]>(kBufferSize)),
      running_(std::make_unique<std::uint8_t[]>(kBufferSize + 1)) {}

std::uint32_t FrameReceiver::fill(const Reader& read) {
    const std::uint32_t room = kBufferSize - bufferFill_;
    const std::uint32_t count = std::min(read(buffer_.get() + bufferFill_, room), room);
    bufferFill_ += count;
    if (count > 0) {
        sinceLastByte_.restart();
    }
    return count;
}

void FrameReceiver::run(const ReadMore& readMore, const Deliver& deliver) {
    for (;;) {
        switch (state_) {
            case State::SearchSync:
                while (unread() < Packet::kHeaderSize) {
                    if (readMore() == 0) {
                        return;
                    }
                }
                searchSync();
                break;
            case State::CheckHeader:
                checkHeader();
                break;
            case State::AwaitFrame:
                switch (awaitFrame(readMore)) {
                    case Await::Waiting:
                        return;
                    case Await::Stalled:
                        ++readPos_;
                        state_ = State::Compact;
                        break;
                    case Await::Complete:
                        state_ = State::CheckData;
                        break;
                }
                break;
            case State::CheckData:
                checkData(deliver);
                break;
            case State::Compact:
                compact();
                break;
            default:
                std::cerr << "somehow entered invalid state.\n" << std::flush;
                empty();
                state_ = State::SearchSync;
                return;
        }
    }
}

void FrameReceiver::searchSync() {
    std::uint8_t* const begin = buffer_.get() + readPos_;
    std::uint8_t* const end = buffer_.get() + bufferFill_;
    if (*begin == Packet::kSyncByte) {
        state_ = State::CheckHeader;
        return;
    }
    auto* const sync = static_cast<std::uint8_t*>(
        std::memchr(begin, Packet::kSyncByte, static_cast<std::size_t>(end - begin)));
    if (sync == nullptr) {
        empty();
        return;
    }
    readPos_ = static_cast<std::uint32_t>(sync - buffer_.get());
    state_ = unread() < Packet::kHeaderSize ? State::Compact : State::CheckHeader;
}

void FrameReceiver::checkHeader() {
    const std::uint8_t* const candidate = buffer_.get() + readPos_;
    if (!Packet::checkHeaderCRC(candidate)) {
        ++readPos_;
        state_ = State::Compact;
        return;
    }
    const std::uint32_t length = Packet::frameLengthFromHeader(candidate);
    // A frame that would end past the buffer could never be completed: make room first.
    // After the move it always fits, since the buffer holds several maximal frames.
    if (readPos_ + length > kBufferSize) {
        moveUnreadToFront();
    }
    frameEnd_ = readPos_ + length;
    state_ = State::AwaitFrame;
}

FrameReceiver::Await FrameReceiver::awaitFrame(const ReadMore& readMore) {
    while (bufferFill_ < frameEnd_) {
        if (readMore() != 0) {
            continue;
        }
        // A header that passed its CRC by chance can announce bytes that never come; the
        // real frames behind it must not wait for ever.
        return sinceLastByte_.elapsed() >= kStallTimeoutMs ? Await::Stalled : Await::Waiting;
    }
    return Await::Complete;
}

void FrameReceiver::checkData(const Deliver& deliver) {
    // The CRC covers the bytes between the header and CRC8D; a header always announces them.
    const std::uint32_t covered = readPos_ + Packet::kHeaderSize;
    const std::uint32_t crcAt = frameEnd_ - 1;
    runCrc(covered, crcAt);
    if (Packet::crc8Of(running_[covered], running_[crcAt], crcAt - covered) == buffer_[crcAt]) {
        deliver(buffer_.get() + readPos_, frameEnd_ - readPos_);
        readPos_ = frameEnd_;
    } else {
        ++readPos_;
    }
    state_ = State::Compact;
}

void FrameReceiver::compact() {
    if (readPos_ == bufferFill_) {
        empty();
    } else if (readPos_ > kCompactThreshold) {
        moveUnreadToFront();
    }
    state_ = State::SearchSync;
}

void FrameReceiver::empty() {
    readPos_ = 0;
    bufferFill_ = 0;
    // The bytes the running CRCs were made from are gone.
    runningFrom_ = 0;
    runningTo_ = 0;
}

void FrameReceiver::moveUnreadToFront() {
    std::memmove(buffer_.get(), buffer_.get() + readPos_, unread());
    if (runningTo_ > readPos_) {
        runningFrom_ = std::max(runningFrom_, readPos_);
        std::memmove(running_.get() + (runningFrom_ - readPos_), running_.get() + runningFrom_,
                     runningTo_ - runningFrom_ + 1);
        runningFrom_ -= readPos_;
        runningTo_ -= readPos_;
    } else {
        runningFrom_ = 0;
        runningTo_ = 0;
    }
    bufferFill_ -= readPos_;
    readPos_ = 0;
}

void FrameReceiver::runCrc(std::uint32_t from, std::uint32_t to) {
    // Candidates only move forward between moves, so the covered stretch only grows there.
    if (from < runningFrom_ || from > runningTo_) {
        runningFrom_ = from;
        runningTo_ = from;
    }
    if (to > runningTo_) {
        Packet::crc8Running(buffer_.get() + runningTo_, to - runningTo_,
                            running_.get() + runningTo_);
        runningTo_ = to;
    }
}

}  // namespace bw_selftest
