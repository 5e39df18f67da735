// The receive buffer's growth, failures and views, on real pipes.
#include "lib/rawio/ReceiveBuffer.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <type_traits>
#include <utility>

#include "descriptors.hpp"

namespace RawIO {
namespace {

using bw_test::makePipe;
using bw_test::putBytes;

std::string held(const ReceiveBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.data()), buffer.size());
}

// A buffer holding "hello" in a storage of 8 bytes.
void fillWithHello(ReceiveBuffer& buffer, const bw_test::Pipe& pipe) {
    putBytes(pipe.writeEnd.get(), "hello");
    ASSERT_EQ(Result::OK, buffer.receive(pipe.readEnd.get(), 5));
}

TEST(ReceiveBuffer, EmptyBufferTakingFiveBytesGrowsToEight) {
    auto pipe = makePipe();
    ReceiveBuffer buffer;
    EXPECT_EQ(0U, buffer.capacity());
    fillWithHello(buffer, pipe);
    EXPECT_EQ(8U, buffer.capacity());
    EXPECT_EQ("hello", held(buffer));
}

TEST(ReceiveBuffer, ARequestThatFitsUsesTheStorageInPlace) {
    auto pipe = makePipe();
    ReceiveBuffer buffer;
    fillWithHello(buffer, pipe);
    const std::uint8_t* storage = buffer.data();
    putBytes(pipe.writeEnd.get(), "abc");
    EXPECT_EQ(Result::OK, buffer.receive(pipe.readEnd.get(), 3));
    EXPECT_EQ(storage, buffer.data());
    EXPECT_EQ(8U, buffer.capacity());
    EXPECT_EQ("helloabc", held(buffer));
}

TEST(ReceiveBuffer, GrowsToTheNextPowerOfTwoKeepingTheBytes) {
    auto pipe = makePipe();
    ReceiveBuffer buffer;
    fillWithHello(buffer, pipe);
    putBytes(pipe.writeEnd.get(), "wxyz");
    EXPECT_EQ(Result::OK, buffer.receive(pipe.readEnd.get(), 4));
    EXPECT_EQ(16U, buffer.capacity());
    EXPECT_EQ("hellowxyz", held(buffer));
}

TEST(ReceiveBuffer, TakesOnlyWhatOneReadDelivers) {
    auto pipe = makePipe();
    ReceiveBuffer buffer;
    putBytes(pipe.writeEnd.get(), "ab");
    EXPECT_EQ(Result::OK, buffer.receive(pipe.readEnd.get(), 100));
    EXPECT_EQ("ab", held(buffer));
    EXPECT_EQ(128U, buffer.capacity());
}

TEST(ReceiveBuffer, AGrownReadOfNothingKeepsTheOldStorage) {
    auto pipe = makePipe();
    ReceiveBuffer buffer;
    fillWithHello(buffer, pipe);
    const std::uint8_t* storage = buffer.data();
    pipe.closeWriteEnd();
    EXPECT_EQ(Result::OK, buffer.receive(pipe.readEnd.get(), 4));
    EXPECT_EQ(storage, buffer.data());
    EXPECT_EQ(8U, buffer.capacity());
    EXPECT_EQ("hello", held(buffer));
}

TEST(ReceiveBuffer, ARequestOfZeroReadsNothing) {
    auto pipe = makePipe();
    ReceiveBuffer buffer;
    putBytes(pipe.writeEnd.get(), "kept");
    EXPECT_EQ(Result::OK, buffer.receive(pipe.readEnd.get(), 0));
    EXPECT_EQ(Result::OK, buffer.receive(-1, 0));
    EXPECT_EQ(0U, buffer.size());
    EXPECT_EQ(0U, buffer.capacity());
    EXPECT_EQ(Result::OK, buffer.receive(pipe.readEnd.get(), 4));
    EXPECT_EQ("kept", held(buffer));
}

TEST(ReceiveBuffer, AFailedReadChangesNothing) {
    auto pipe = makePipe(O_NONBLOCK);
    ReceiveBuffer buffer;
    fillWithHello(buffer, pipe);
    const std::uint8_t* storage = buffer.data();
    EXPECT_EQ(Result::ReadFailed, buffer.receive(-1, 2));
    EXPECT_EQ(Result::ReadFailed, buffer.receive(-1, 100));
    // EAGAIN on an empty non-blocking pipe is a failed read like any other.
    EXPECT_EQ(Result::ReadFailed, buffer.receive(pipe.readEnd.get(), 100));
    EXPECT_EQ(storage, buffer.data());
    EXPECT_EQ(8U, buffer.capacity());
    EXPECT_EQ("hello", held(buffer));
}

TEST(ReceiveBuffer, ARequestTooBigToAllocateIsOutOfMemoryNotAnOverrun) {
    auto pipe = makePipe();
    putBytes(pipe.writeEnd.get(), "more");
    ReceiveBuffer empty;
    EXPECT_EQ(Result::OutOfMemory,
              empty.receive(pipe.readEnd.get(), std::numeric_limits<std::size_t>::max()));
    EXPECT_EQ(0U, empty.capacity());
    auto second = makePipe();
    ReceiveBuffer buffer;
    fillWithHello(buffer, second);
    putBytes(second.writeEnd.get(), "more");
    EXPECT_EQ(Result::OutOfMemory, buffer.receive(second.readEnd.get(),
                                                  std::numeric_limits<std::size_t>::max() / 2 + 1));
    EXPECT_EQ("hello", held(buffer));
    EXPECT_EQ(8U, buffer.capacity());
}

TEST(ReceiveBuffer, ConsumeMovesTheRestToTheFront) {
    auto pipe = makePipe();
    ReceiveBuffer buffer;
    putBytes(pipe.writeEnd.get(), "headtail");
    ASSERT_EQ(Result::OK, buffer.receive(pipe.readEnd.get(), 8));
    const std::uint8_t* storage = buffer.data();
    buffer.consume(4);
    EXPECT_EQ("tail", held(buffer));
    EXPECT_EQ(storage, buffer.data());
    EXPECT_EQ(8U, buffer.capacity());
    buffer.consume(0);
    EXPECT_EQ("tail", held(buffer));
    buffer.consume(10);
    EXPECT_EQ(0U, buffer.size());
    putBytes(pipe.writeEnd.get(), "new");
    ASSERT_EQ(Result::OK, buffer.receive(pipe.readEnd.get(), 8));
    EXPECT_EQ("new", held(buffer));
    EXPECT_EQ(storage, buffer.data());
}

TEST(ReceiveBuffer, AMoveTakesTheStorageAndLeavesTheSourceEmpty) {
    static_assert(!std::is_copy_constructible<ReceiveBuffer>::value, "not copyable");
    static_assert(!std::is_copy_assignable<ReceiveBuffer>::value, "not copyable");
    auto pipe = makePipe();
    ReceiveBuffer source;
    fillWithHello(source, pipe);
    const std::uint8_t* storage = source.data();
    ReceiveBuffer moved(std::move(source));
    EXPECT_EQ(storage, moved.data());
    EXPECT_EQ("hello", held(moved));
    EXPECT_EQ(nullptr, source.data());  // NOLINT(bugprone-use-after-move): checked on purpose
    EXPECT_EQ(0U, source.size());
    EXPECT_EQ(0U, source.capacity());

    ReceiveBuffer target;
    putBytes(pipe.writeEnd.get(), "old");
    ASSERT_EQ(Result::OK, target.receive(pipe.readEnd.get(), 3));
    target = std::move(moved);
    EXPECT_EQ(storage, target.data());
    EXPECT_EQ("hello", held(target));
    EXPECT_EQ(0U, moved.size());  // NOLINT(bugprone-use-after-move): checked on purpose
}

}  // namespace
}  // namespace RawIO
