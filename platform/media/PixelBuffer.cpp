#include "platform/media/PixelBuffer.h"

#include <orva/FormatDescription.h>

#include <new>

namespace orva {

std::shared_ptr<PixelBuffer> PixelBuffer::create(int32_t width, int32_t height, uint32_t pixelFormat)
{
    if (pixelFormat != kCodec2VUY || width <= 0 || height <= 0 || width > 16384 || height > 16384) return nullptr;
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
