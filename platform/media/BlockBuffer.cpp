#include "platform/media/BlockBuffer.h"

#include "platform/media/BlockBufferPool.h"

#include <cstring>
#include <new>

namespace orva {

std::shared_ptr<BlockBuffer> BlockBuffer::createWithMemoryBlock(size_t length)
{
    std::shared_ptr<BlockBuffer> block(new (std::nothrow) BlockBuffer);
    if (!block) return nullptr;
    block->mBytes = new (std::nothrow) uint8_t[length ? length : 1]; // not cleared: the maker fills it
    if (!block->mBytes) return nullptr;
    block->mLength = block->mCapacity = length;
    return block;
}

BlockBuffer::~BlockBuffer()
{
    if (mPool)
        mPool->recycle(mBytes, mCapacity);
    else
        delete[] mBytes;
}

bool BlockBuffer::replaceDataBytes(const void* source, size_t offset, size_t length)
{
    if (offset > mLength || length > mLength - offset || (length && !source)) return false;
    if (length) std::memcpy(mBytes + offset, source, length);
    return true;
}

bool BlockBuffer::fillDataBytes(uint8_t fill, size_t offset, size_t length)
{
    if (offset > mLength || length > mLength - offset) return false;
    std::memset(mBytes + offset, fill, length);
    return true;
}

} // namespace orva
