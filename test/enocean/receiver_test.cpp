// The receiver state machine fed from memory, with reads as large as the buffer allows.
#include "enocean/receiver.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "enocean/packet.hpp"
#include "uart/Esp3.hpp"

namespace bw_selftest {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace esp3 = bw_sim::uart::esp3;

// Hands out queued bytes, at most `maxRead` per read; records every frame delivered.
class Feed {
  public:
    explicit Feed(std::size_t maxRead = FrameReceiver::kBufferSize) : maxRead_(maxRead) {}

    void add(const Bytes& bytes) { pending_.insert(pending_.end(), bytes.begin(), bytes.end()); }
    void run(FrameReceiver& receiver) {
        receiver.run([&] { return receiver.fill(reader()); },
                     [&](const std::uint8_t* frame, std::uint32_t length) {
                         frames.emplace_back(frame, frame + length);
                     });
    }
    std::size_t pending() const { return pending_.size() - taken_; }

    std::vector<Bytes> frames;

  private:
    FrameReceiver::Reader reader() {
        return [this](std::uint8_t* destination, std::uint32_t room) {
            const std::size_t count = std::min({std::size_t{room}, maxRead_, pending()});
            std::memcpy(destination, pending_.data() + taken_, count);
            taken_ += count;
            return static_cast<std::uint32_t>(count);
        };
    }

    std::size_t maxRead_;
    Bytes pending_;
    std::size_t taken_ = 0;
};

Bytes frame(std::uint8_t type, std::size_t dataLength, std::size_t optionalLength,
            std::uint8_t fill) {
    return esp3::encode({type, Bytes(dataLength, fill), Bytes(optionalLength, fill)});
}

// Garbage that holds no sync byte.
Bytes noise(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i % 0x50);
    }
    return bytes;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Sync bytes whose header passes its CRC, planted or by chance.
std::size_t chanceHeaders(const Bytes& stream) {
    std::size_t count = 0;
    for (std::size_t at = 0; at + 6 <= stream.size(); ++at) {
        count += stream[at] == 0x55 && Packet::checkHeaderCRC(stream.data() + at) ? 1U : 0U;
    }
    return count;
}

// A header that passes its CRC and announces `dataLength` bytes that never come.
Bytes strayHeader(std::uint16_t dataLength) {
    Bytes header{0x55, static_cast<std::uint8_t>(dataLength >> 8),
                 static_cast<std::uint8_t>(dataLength & 0xFF), 0x00, 0x01};
    header.push_back(esp3::crc8(header.data() + 1, 4));
    return header;
}

TEST(FrameReceiver, MaximalFrameFarIntoAFullBufferIsStillFound) {
    // One read fills the whole buffer: the frame starts at 200000 and cannot end inside it.
    const Bytes maximal = frame(PacketType::RADIO_ERP1, 0xFFFF, 0xFF, 0x5A);
    const Bytes small = frame(PacketType::RESPONSE, 1, 0, 0x00);
    Feed feed;
    feed.add(concat({noise(200000), maximal, small}));
    FrameReceiver receiver;
    for (int call = 0; call < 5 && feed.frames.size() < 2; ++call) {
        feed.run(receiver);
    }
    ASSERT_EQ(2U, feed.frames.size());
    EXPECT_EQ(maximal, feed.frames[0]);
    EXPECT_EQ(small, feed.frames[1]);
    EXPECT_EQ(FrameReceiver::State::SearchSync, receiver.state());
}

// A frame inside a rejected candidate is still found once the consumed bytes are moved out,
// with the CRCs already run over it.
TEST(FrameReceiver, FrameInsideARejectedCandidateSurvivesTheMoveToTheFront) {
    const Bytes inner = frame(PacketType::RESPONSE, 5, 0, 0x22);
    Bytes outer = strayHeader(static_cast<std::uint16_t>(inner.size() + 20));
    outer.insert(outer.end(), 10, 0x00);
    outer.insert(outer.end(), inner.begin(), inner.end());
    outer.insert(outer.end(), 10, 0x00);
    outer.push_back(static_cast<std::uint8_t>(esp3::crc8(outer.data() + 6, outer.size() - 6) ^ 1));
    Feed feed;
    feed.add(concat({noise(FrameReceiver::kCompactThreshold + 100), outer}));
    FrameReceiver receiver;
    feed.run(receiver);
    ASSERT_EQ(1U, feed.frames.size());
    EXPECT_EQ(inner, feed.frames[0]);
}

TEST(FrameReceiver, SyncByteAtTheEndWaitsForTheRestOfItsFrame) {
    const Bytes response = frame(PacketType::RESPONSE, 1, 0, 0x00);
    Feed feed;
    FrameReceiver receiver;
    feed.add(concat({noise(20), Bytes(response.begin(), response.begin() + 3)}));
    feed.run(receiver);
    EXPECT_TRUE(feed.frames.empty());
    EXPECT_EQ(FrameReceiver::State::SearchSync, receiver.state());
    feed.add(Bytes(response.begin() + 3, response.end()));
    feed.run(receiver);
    ASSERT_EQ(1U, feed.frames.size());
    EXPECT_EQ(response, feed.frames[0]);
}

TEST(FrameReceiver, SplitFrameIsCompletedByALaterCall) {
    const Bytes telegram = frame(PacketType::RADIO_ERP1, 10, 7, 0x11);
    Feed feed;
    FrameReceiver receiver;
    feed.add(Bytes(telegram.begin(), telegram.begin() + 9));
    feed.run(receiver);
    EXPECT_EQ(FrameReceiver::State::AwaitFrame, receiver.state());
    EXPECT_TRUE(feed.frames.empty());
    feed.add(Bytes(telegram.begin() + 9, telegram.end()));
    feed.run(receiver);
    ASSERT_EQ(1U, feed.frames.size());
    EXPECT_EQ(telegram, feed.frames[0]);
}

TEST(FrameReceiver, StalledCandidateIsDroppedAfterAHundredMilliseconds) {
    const Bytes response = frame(PacketType::RESPONSE, 1, 0, 0x00);
    Feed feed;
    FrameReceiver receiver;
    feed.add(concat({strayHeader(1000), response}));
    const auto start = std::chrono::steady_clock::now();
    feed.run(receiver);
    EXPECT_TRUE(feed.frames.empty());
    while (feed.frames.empty() &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(2)) {
        ::usleep(1000);
        feed.run(receiver);
    }
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    ASSERT_EQ(1U, feed.frames.size());
    EXPECT_EQ(response, feed.frames[0]);
    EXPECT_GE(waited.count(), 95);  // the clocks count whole milliseconds
    EXPECT_LT(waited.count(), 1000);
}

TEST(FrameReceiver, ArrivingBytesKeepALongFrameAlive) {
    const Bytes telegram = frame(PacketType::RADIO_ERP1, 300, 7, 0x22);
    Feed feed;
    FrameReceiver receiver;
    for (std::size_t at = 0; at < telegram.size(); at += 100) {
        feed.add(Bytes(
            telegram.begin() + static_cast<std::ptrdiff_t>(at),
            telegram.begin() + static_cast<std::ptrdiff_t>(std::min(at + 100, telegram.size()))));
        feed.run(receiver);
        ::usleep(60000);  // each pause shorter than the limit, all of them longer
    }
    ASSERT_EQ(1U, feed.frames.size());
    EXPECT_EQ(telegram, feed.frames[0]);
}

TEST(FrameReceiver, ConsumedBytesMakeRoomForMore) {
    // False sync bytes every 10 bytes, none with a valid header: the receiver keeps them
    // until it has looked at them, so only moving consumed bytes out keeps room to read into.
    Bytes falseSyncs(300000, 0x11);
    for (std::size_t at = 0; at < falseSyncs.size(); at += 10) {
        falseSyncs[at] = 0x55;
    }
    ASSERT_EQ(0U, chanceHeaders(falseSyncs));
    const Bytes response = frame(PacketType::RESPONSE, 1, 0, 0x00);
    for (const std::size_t maxRead : {std::size_t{1}, std::size_t{FrameReceiver::kBufferSize}}) {
        Feed feed(maxRead);
        feed.add(concat({falseSyncs, response}));
        FrameReceiver receiver;
        feed.run(receiver);
        EXPECT_EQ(0U, feed.pending()) << "reads of at most " << maxRead << " bytes";
        EXPECT_EQ(std::vector<Bytes>{response}, feed.frames);
    }
}

// The receiver must find exactly what an independent decoder finds in the same stream,
// whatever the read sizes; and with this fixed random stream that is every planted frame.
TEST(FrameReceiver, FindsEveryFrameInALongRandomStream) {
    std::mt19937 random(3);  // a stream in which no chance frame hides a planted one
    Bytes stream;
    std::vector<Bytes> planted;
    for (int i = 0; i < 400; ++i) {
        const std::size_t garbage = random() % 2000;
        for (std::size_t j = 0; j < garbage; ++j) {
            // Sync bytes are frequent here, so headers that pass by chance occur too.
            stream.push_back(random() % 8 == 0 ? 0x55 : static_cast<std::uint8_t>(random()));
        }
        Bytes data(1 + random() % 40);
        for (std::uint8_t& byte : data) {
            byte = static_cast<std::uint8_t>(random());
        }
        planted.push_back(esp3::encode({PacketType::RADIO_ERP1, data, {}}));
        stream.insert(stream.end(), planted.back().begin(), planted.back().end());
    }
    // Enough quiet bytes for any candidate announced near the end to complete and fail.
    stream.resize(stream.size() + Packet::kMaxFrameLength, 0x00);
    ASSERT_GT(stream.size(), std::size_t{FrameReceiver::kBufferSize});
    EXPECT_GT(chanceHeaders(stream), planted.size() + 100);
    std::vector<Bytes> expected;
    esp3::Decoder decoder;
    for (const esp3::Frame& found : decoder.feed(stream)) {
        expected.push_back(esp3::encode(found));
    }
    ASSERT_EQ(planted, expected);

    for (const std::size_t maxRead :
         {std::size_t{1}, std::size_t{4095}, std::size_t{FrameReceiver::kBufferSize}}) {
        Feed feed(maxRead);
        feed.add(stream);
        FrameReceiver receiver;
        feed.run(receiver);
        EXPECT_EQ(0U, feed.pending());
        EXPECT_EQ(expected, feed.frames) << "reads of at most " << maxRead << " bytes";
    }
}

}  // namespace
}  // namespace bw_selftest
