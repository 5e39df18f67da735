// Collects the bytes that arrive on a descriptor, growing its storage as needed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/rawio/RawBuffer.hpp"
#include "lib/rawio/RawIO.hpp"

namespace RawIO {

class ReceiveBuffer {
  public:
    ReceiveBuffer() noexcept = default;
    ReceiveBuffer(const ReceiveBuffer&) = delete;
    ReceiveBuffer& operator=(const ReceiveBuffer&) = delete;
    // The storage goes with the move; the source is left empty.
    ReceiveBuffer(ReceiveBuffer&& other) noexcept;
    ReceiveBuffer& operator=(ReceiveBuffer&& other) noexcept;
    ~ReceiveBuffer();

    // Appends what one read() of at most `most` bytes delivers. End of file is OK with
    // nothing added. On failure the held bytes and the storage stay as they were.
    [[nodiscard]] Result receive(int fd, std::size_t most);

    // The held bytes: data()[0] to data()[size() - 1]. Valid until the next change.
    const std::uint8_t* data() const noexcept { return storage.data; }
    std::size_t size() const noexcept { return fill; }
    std::size_t capacity() const noexcept { return storage.capacity; }

    // Drops the first `count` bytes (all of them when there are fewer) and moves the rest
    // to the front; the storage is kept.
    void consume(std::size_t count) noexcept;

  private:
    ByteBuffer storage;
    std::size_t fill = 0;
};

}  // namespace RawIO
