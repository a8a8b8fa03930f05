#include "platform/media/PixelBufferPool.h"

#include <algorithm>
#include <new>

namespace orva {

std::shared_ptr<PixelBufferPool> PixelBufferPool::create(int32_t width, int32_t height, uint32_t pixelFormat,
                                                         size_t capacity)
{
    if (!PixelBuffer::validGeometry(width, height, pixelFormat)) return nullptr;
    std::shared_ptr<PixelBufferPool> pool(new (std::nothrow) PixelBufferPool);
    if (!pool) return nullptr;
    pool->mCapacity = std::min(capacity, kMaximumCapacity);
    pool->mWidth = width;
    pool->mHeight = height;
    pool->mPixelFormat = pixelFormat;
    pool->mSize = static_cast<size_t>(width) * 2 * static_cast<size_t>(height);
    return pool;
}

PixelBufferPool::~PixelBufferPool()
{
    for (auto& slot : mIdle) delete[] slot.exchange(nullptr);
}

std::shared_ptr<PixelBuffer> PixelBufferPool::createPixelBuffer()
{
    uint8_t* bytes = nullptr;
    for (size_t i = 0; i < mCapacity && !bytes; ++i) bytes = mIdle[i].exchange(nullptr, std::memory_order_acquire);
    if (!bytes) bytes = new (std::nothrow) uint8_t[mSize];
    if (!bytes) return nullptr;
    std::shared_ptr<PixelBuffer> buffer(new (std::nothrow) PixelBuffer);
    if (!buffer) {
        recycle(bytes);
        return nullptr;
    }
    buffer->mBytes = bytes;
    buffer->mSize = mSize;
    buffer->mPool = shared_from_this();
    buffer->mWidth = mWidth;
    buffer->mHeight = mHeight;
    buffer->mPixelFormat = mPixelFormat;
    buffer->mBytesPerRow = static_cast<size_t>(mWidth) * 2;
    return buffer;
}

void PixelBufferPool::recycle(uint8_t* bytes)
{
    for (size_t i = 0; i < mCapacity; ++i) {
        uint8_t* expected = nullptr;
        if (mIdle[i].compare_exchange_strong(expected, bytes, std::memory_order_release)) return;
    }
    delete[] bytes;
}

size_t PixelBufferPool::idleCount() const
{
    size_t n = 0;
    for (size_t i = 0; i < mCapacity; ++i) n += mIdle[i].load(std::memory_order_relaxed) != nullptr;
    return n;
}

} // namespace orva
