// Blocks of bytes whose memory is used again: a generator makes a block for every
// captured buffer (tens a second), and the writer releases it a moment later. Taking
// memory here costs no allocation once the pool holds blocks as large as the stream's
// buffers, and no clearing. createBlockBuffer() is called on the capture thread and
// blocks are released on the writer's; neither side locks or blocks. The pool keeps
// at most kCapacity idle blocks.
#pragma once

#include "platform/media/BlockBuffer.h"

#include <array>
#include <atomic>
#include <memory>

namespace orva {

class BlockBufferPool : public std::enable_shared_from_this<BlockBufferPool> {
public:
    static constexpr size_t kCapacity = 16;

    static std::shared_ptr<BlockBufferPool> create();
    ~BlockBufferPool();
    BlockBufferPool(const BlockBufferPool&) = delete;
    BlockBufferPool& operator=(const BlockBufferPool&) = delete;

    // A block of `length` bytes, not cleared; null when memory runs out.
    std::shared_ptr<BlockBuffer> createBlockBuffer(size_t length);

private:
    friend class BlockBuffer;
    BlockBufferPool() = default;
    void recycle(uint8_t* bytes, size_t capacity);

    // Each slot: an idle block's memory, or null; beside it the capacity it had, a
    // hint for the search (the memory itself holds its true size).
    std::array<std::atomic<uint8_t*>, kCapacity> mIdle{};
    std::array<std::atomic<size_t>, kCapacity> mIdleCapacity{};
};

} // namespace orva
