// An uncompressed picture in memory (the platform's pixel buffer): width × height
// pixels of one pixel format, rows of bytesPerRow bytes. The base address is valid
// between lock and unlock; the buffer is shared read-only once its sample exists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace orva {

class PixelBuffer {
public:
    // Null for a zero or absurd size, or a format other than '2vuy' (two bytes a pixel).
    static std::shared_ptr<PixelBuffer> create(int32_t width, int32_t height, uint32_t pixelFormat);

    void lockBaseAddress() { ++mLocks; }
    void unlockBaseAddress() { --mLocks; }
    uint8_t* baseAddress() { return mBytes.data(); }
    const uint8_t* data() const { return mBytes.data(); }
    size_t dataSize() const { return mBytes.size(); }
    int32_t width() const { return mWidth; }
    int32_t height() const { return mHeight; }
    size_t bytesPerRow() const { return mBytesPerRow; }
    uint32_t pixelFormat() const { return mPixelFormat; }

private:
    PixelBuffer() = default;
    std::vector<uint8_t> mBytes;
    int32_t mWidth = 0, mHeight = 0;
    size_t mBytesPerRow = 0;
    uint32_t mPixelFormat = 0;
    int mLocks = 0;
};

} // namespace orva
