#include "platform/media/PixelBuffer.h"

#include <new>

namespace orva {

std::shared_ptr<PixelBuffer> PixelBuffer::create(int32_t width, int32_t height, uint32_t pixelFormat)
{
    constexpr uint32_t k2vuy = 0x32767579;
    if (pixelFormat != k2vuy || width <= 0 || height <= 0 || width > 16384 || height > 16384) return nullptr;
    std::shared_ptr<PixelBuffer> buffer(new (std::nothrow) PixelBuffer);
    if (!buffer) return nullptr;
    buffer->mWidth = width;
    buffer->mHeight = height;
    buffer->mPixelFormat = pixelFormat;
    buffer->mBytesPerRow = static_cast<size_t>(width) * 2;
    try {
        buffer->mBytes.resize(buffer->mBytesPerRow * static_cast<size_t>(height));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return buffer;
}

} // namespace orva
