#include "platform/media/PixelBuffer.h"

#include "platform/media/PixelBufferPool.h"

#include <orva/FormatDescription.h>

#include <cstring>
#include <new>

namespace orva {

bool PixelBuffer::validGeometry(int32_t width, int32_t height, uint32_t pixelFormat)
{
    return pixelFormat == kCodec2VUY && width > 0 && height > 0 && width <= 16384 && height <= 16384;
}

std::shared_ptr<PixelBuffer> PixelBuffer::create(int32_t width, int32_t height, uint32_t pixelFormat)
{
    if (!validGeometry(width, height, pixelFormat)) return nullptr;
    std::shared_ptr<PixelBuffer> buffer(new (std::nothrow) PixelBuffer);
    if (!buffer) return nullptr;
    buffer->mWidth = width;
    buffer->mHeight = height;
    buffer->mPixelFormat = pixelFormat;
    buffer->mBytesPerRow = static_cast<size_t>(width) * 2;
    buffer->mSize = buffer->mBytesPerRow * static_cast<size_t>(height);
    buffer->mBytes = new (std::nothrow) uint8_t[buffer->mSize];
    if (!buffer->mBytes) return nullptr;
    std::memset(buffer->mBytes, 0, buffer->mSize);
    return buffer;
}

PixelBuffer::~PixelBuffer()
{
    if (mPool)
        mPool->recycle(mBytes);
    else
        delete[] mBytes;
}

} // namespace orva
