#include "platform/media/BlockBuffer.h"

#include <cstring>
#include <new>

namespace orva {

std::shared_ptr<BlockBuffer> BlockBuffer::createWithMemoryBlock(size_t length)
{
    std::shared_ptr<BlockBuffer> block(new (std::nothrow) BlockBuffer);
    if (!block) return nullptr;
    try {
        block->mBytes.resize(length);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return block;
}

bool BlockBuffer::replaceDataBytes(const void* source, size_t offset, size_t length)
{
    if (offset > mBytes.size() || length > mBytes.size() - offset || (length && !source)) return false;
    if (length) std::memcpy(mBytes.data() + offset, source, length);
    return true;
}

bool BlockBuffer::fillDataBytes(uint8_t fill, size_t offset, size_t length)
{
    if (offset > mBytes.size() || length > mBytes.size() - offset) return false;
    std::memset(mBytes.data() + offset, fill, length);
    return true;
}

} // namespace orva
