// Heap blocks for the receive buffer: a plain pointer-and-capacity pair, and an owner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace RawIO {

// Does not own the bytes by itself.
struct ByteBuffer {
    std::uint8_t* data = nullptr;
    std::size_t capacity = 0;
};

// Owns one block from malloc and frees it, unless released first.
class RawBuffer {
  public:
    RawBuffer() noexcept = default;
    // An invalid (null) block when malloc fails.
    explicit RawBuffer(std::size_t size) noexcept
        : block(static_cast<std::uint8_t*>(std::malloc(size))) {}

    RawBuffer(const RawBuffer&) = delete;
    RawBuffer& operator=(const RawBuffer&) = delete;
    RawBuffer(RawBuffer&& other) noexcept : block(other.block) { other.block = nullptr; }
    RawBuffer& operator=(RawBuffer&& other) noexcept {
        std::uint8_t* const mine = block;
        block = other.block;
        other.block = mine;
        return *this;
    }
    ~RawBuffer() { std::free(block); }

    std::uint8_t* get() const noexcept { return block; }
    bool isValid() const noexcept { return block != nullptr; }
    explicit operator bool() const noexcept { return isValid(); }
    // Hands the block to the caller, who must free it.
    [[nodiscard]] std::uint8_t* release() noexcept {
        std::uint8_t* const released = block;
        block = nullptr;
        return released;
    }

  private:
    std::uint8_t* block = nullptr;
};

}  // namespace RawIO
