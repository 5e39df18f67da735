// Collects the bytes that arrive on a descriptor, growing its storage as needed.
#include "lib/rawio/ReceiveBuffer.hpp"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <limits>

namespace RawIO {

namespace {

constexpr std::size_t kLargestSize = std::numeric_limits<std::size_t>::max();

// The smallest power of two that is at least `needed` (at least 1). Where none fits in the
// size type, `needed` itself: rounding would wrap to 0 and the read would overrun the block.
std::size_t grownCapacity(std::size_t needed) {
    std::size_t bits = needed - 1;
    for (int shift = 1; shift < std::numeric_limits<std::size_t>::digits; shift <<= 1) {
        bits |= bits >> shift;
    }
    return bits == kLargestSize ? needed : bits + 1;
}

}  // namespace

ReceiveBuffer::ReceiveBuffer(ReceiveBuffer&& other) noexcept
    : storage(other.storage), fill(other.fill) {
    other.storage = ByteBuffer{};
    other.fill = 0;
}

ReceiveBuffer& ReceiveBuffer::operator=(ReceiveBuffer&& other) noexcept {
    if (this != &other) {
        std::free(storage.data);
        storage = other.storage;
        fill = other.fill;
        other.storage = ByteBuffer{};
        other.fill = 0;
    }
    return *this;
}

ReceiveBuffer::~ReceiveBuffer() {
    std::free(storage.data);
}

Result ReceiveBuffer::receive(int fd, std::size_t most) {
    if (most == 0) {
        return Result::OK;
    }
    if (fill == kLargestSize) {
        return Result::OutOfMemory;
    }
    // fill + request cannot overflow.
    const std::size_t request = most < kLargestSize - fill ? most : kLargestSize - fill;
    const std::size_t needed = fill + request;
    RawBuffer grown;
    std::size_t grownTo = 0;
    std::uint8_t* target = storage.data + fill;
    if (needed > storage.capacity) {
        grownTo = grownCapacity(needed);
        grown = RawBuffer(grownTo);
        if (!grown) {
            return Result::OutOfMemory;
        }
        target = grown.get() + fill;
    }
    const ssize_t count = ::read(fd, target, request);
    if (count < 0) {
        return Result::ReadFailed;
    }
    // A read of nothing keeps the old storage; the new block goes with `grown`.
    if (grown && count > 0) {
        if (storage.data != nullptr && fill != 0) {
            std::memcpy(grown.get(), storage.data, fill);
        }
        std::free(storage.data);
        storage = ByteBuffer{grown.release(), grownTo};
    }
    fill += static_cast<std::size_t>(count);
    return Result::OK;
}

void ReceiveBuffer::consume(std::size_t count) noexcept {
    if (count >= fill) {
        fill = 0;
        return;
    }
    std::memmove(storage.data, storage.data + count, fill - count);
    fill -= count;
}

}  // namespace RawIO
