// Pictures of one size and format whose memory is used again (the platform's pixel
// buffer pool). A 1080p 4:2:2 picture is 4 MB: allocating each frame afresh costs the
// kernel a thousand page faults and a clearing pass, more than the copy into it.
// createPixelBuffer() is called on the capture thread and the pictures are released on
// the writer's; both sides take and return memory without locking or blocking. The
// pool keeps at most `capacity` idle pictures; more in flight are allocated and freed.
#pragma once

#include "platform/media/PixelBuffer.h"

#include <array>
#include <atomic>
#include <memory>

namespace orva {

class PixelBufferPool : public std::enable_shared_from_this<PixelBufferPool> {
public:
    static constexpr size_t kMaximumCapacity = 8;

    // Null when the geometry is one PixelBuffer::create refuses.
    static std::shared_ptr<PixelBufferPool> create(int32_t width, int32_t height, uint32_t pixelFormat,
                                                   size_t capacity = 4);
    ~PixelBufferPool();
    PixelBufferPool(const PixelBufferPool&) = delete;
    PixelBufferPool& operator=(const PixelBufferPool&) = delete;

    // A picture of the pool's size whose bytes are not cleared (the caller fills them);
    // null when memory runs out.
    std::shared_ptr<PixelBuffer> createPixelBuffer();

    // How many idle pictures the pool holds now.
    size_t idleCount() const;

private:
    friend class PixelBuffer;
    PixelBufferPool() = default;
    void recycle(uint8_t* bytes);

    std::array<std::atomic<uint8_t*>, kMaximumCapacity> mIdle{};
    size_t mCapacity = 0;
    int32_t mWidth = 0, mHeight = 0;
    uint32_t mPixelFormat = 0;
    size_t mSize = 0;
};

} // namespace orva
