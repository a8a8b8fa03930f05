// A block of bytes that a sample refers to (the platform's block buffer). Made on
// one thread and then shared read-only between threads with the sample that holds it.
// Its bytes are not cleared when it is made: whoever makes it fills them. A block
// made by a BlockBufferPool gives its memory back to the pool when the last
// reference goes, on whichever thread drops it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace orva {

class BlockBufferPool;

class BlockBuffer {
public:
    // A block of `length` bytes allocated at once (the "assure memory now" flag);
    // null when the memory cannot be had.
    static std::shared_ptr<BlockBuffer> createWithMemoryBlock(size_t length);
    ~BlockBuffer();
    BlockBuffer(const BlockBuffer&) = delete;
    BlockBuffer& operator=(const BlockBuffer&) = delete;

    size_t dataLength() const { return mLength; }
    const uint8_t* data() const { return mBytes; }
    uint8_t* mutableData() { return mBytes; }
    // Copies `length` bytes to `offset`; false (nothing copied) when they do not fit.
    bool replaceDataBytes(const void* source, size_t offset, size_t length);
    // Sets `length` bytes at `offset` to `fill`; false when they do not fit.
    bool fillDataBytes(uint8_t fill, size_t offset, size_t length);

private:
    friend class BlockBufferPool;
    BlockBuffer() = default;
    uint8_t* mBytes = nullptr;
    size_t mLength = 0, mCapacity = 0;
    std::shared_ptr<BlockBufferPool> mPool; // where the memory goes back, or null to free it
};

} // namespace orva
