// An uncompressed picture in memory (the platform's pixel buffer): width × height
// pixels of one pixel format, rows of bytesPerRow bytes. The base address is valid
// between lock and unlock; the buffer is shared read-only once its sample exists.
// A picture made by a PixelBufferPool returns its memory to the pool when the last
// reference goes, on whichever thread drops it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace orva {

class PixelBufferPool;

class PixelBuffer {
public:
    // Null for a zero or absurd size, or a format other than '2vuy' (two bytes a pixel).
    // The bytes are zero.
    static std::shared_ptr<PixelBuffer> create(int32_t width, int32_t height, uint32_t pixelFormat);
    ~PixelBuffer();
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    void lockBaseAddress() { ++mLocks; }
    void unlockBaseAddress() { --mLocks; }
    uint8_t* baseAddress() { return mBytes; }
    const uint8_t* data() const { return mBytes; }
    size_t dataSize() const { return mSize; }
    int32_t width() const { return mWidth; }
    int32_t height() const { return mHeight; }
    size_t bytesPerRow() const { return mBytesPerRow; }
    uint32_t pixelFormat() const { return mPixelFormat; }

private:
    friend class PixelBufferPool;
    PixelBuffer() = default;
    static bool validGeometry(int32_t width, int32_t height, uint32_t pixelFormat);
    uint8_t* mBytes = nullptr;
    size_t mSize = 0;
    std::shared_ptr<PixelBufferPool> mPool; // where the bytes go back, or null to free them
    int32_t mWidth = 0, mHeight = 0;
    size_t mBytesPerRow = 0;
    uint32_t mPixelFormat = 0;
    int mLocks = 0;
};

} // namespace orva
