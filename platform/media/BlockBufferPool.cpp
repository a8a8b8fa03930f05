#include "platform/media/BlockBufferPool.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace orva {

namespace {

// Pooled memory carries its own capacity in front of the bytes, so whoever takes it
// from a slot knows its size without trusting anything else.
constexpr size_t kHeader = 16;

uint8_t* allocate(size_t capacity)
{
    auto* raw = new (std::nothrow) uint8_t[capacity + kHeader];
    if (!raw) return nullptr;
    std::memcpy(raw, &capacity, sizeof capacity);
    return raw + kHeader;
}

size_t capacityOf(const uint8_t* bytes)
{
    size_t capacity = 0;
    std::memcpy(&capacity, bytes - kHeader, sizeof capacity);
    return capacity;
}

void release(uint8_t* bytes)
{
    if (bytes) delete[] (bytes - kHeader);
}

} // namespace

std::shared_ptr<BlockBufferPool> BlockBufferPool::create()
{
    return std::shared_ptr<BlockBufferPool>(new (std::nothrow) BlockBufferPool);
}

BlockBufferPool::~BlockBufferPool()
{
    for (auto& slot : mIdle) release(slot.exchange(nullptr));
}

std::shared_ptr<BlockBuffer> BlockBufferPool::createBlockBuffer(size_t length)
{
    std::shared_ptr<BlockBuffer> block(new (std::nothrow) BlockBuffer);
    if (!block) return nullptr;
    // An idle block large enough (the slots' sizes are hints; the block's own says).
    uint8_t* bytes = nullptr;
    for (size_t i = 0; i < kCapacity && !bytes; ++i) {
        if (mIdleCapacity[i].load(std::memory_order_relaxed) < length) continue;
        bytes = mIdle[i].exchange(nullptr, std::memory_order_acquire);
        if (bytes && capacityOf(bytes) < length) {
            recycle(bytes, capacityOf(bytes));
            bytes = nullptr;
        }
    }
    // Else a new one, with room for the stream's larger buffers to come (a key frame
    // after small ones).
    if (!bytes && !(bytes = allocate(std::max<size_t>(length + length / 4, 4096)))) return nullptr;
    block->mBytes = bytes;
    block->mLength = length;
    block->mCapacity = capacityOf(bytes);
    block->mPool = shared_from_this();
    return block;
}

void BlockBufferPool::recycle(uint8_t* bytes, size_t)
{
    const size_t capacity = capacityOf(bytes);
    for (size_t i = 0; i < kCapacity; ++i) {
        uint8_t* expected = nullptr;
        if (mIdle[i].compare_exchange_strong(expected, bytes, std::memory_order_release)) {
            mIdleCapacity[i].store(capacity, std::memory_order_relaxed);
            return;
        }
    }
    release(bytes);
}

} // namespace orva
