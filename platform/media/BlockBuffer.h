// A block of bytes that a sample refers to (the platform's block buffer). Made on
// one thread and then shared read-only between threads with the sample that holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace orva {

class BlockBuffer {
public:
    // A block of `length` bytes allocated at once (the "assure memory now" flag);
    // null when the memory cannot be had.
    static std::shared_ptr<BlockBuffer> createWithMemoryBlock(size_t length);

    size_t dataLength() const { return mBytes.size(); }
    const uint8_t* data() const { return mBytes.data(); }
    uint8_t* mutableData() { return mBytes.data(); }
    // Copies `length` bytes to `offset`; false (nothing copied) when they do not fit.
    bool replaceDataBytes(const void* source, size_t offset, size_t length);
    // Sets `length` bytes at `offset` to `fill`; false when they do not fit.
    bool fillDataBytes(uint8_t fill, size_t offset, size_t length);

private:
    BlockBuffer() = default;
    std::vector<uint8_t> mBytes;
};

} // namespace orva
