// Reading and writing the boxes QuickTime and MP4 files are made of: big-endian
// fields, a 32-bit size (or 1 and a 64-bit one) and a four-character type. Used by
// the working movie's reader and the index written when it is finished.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orva::boxes {

constexpr uint32_t type(const char (&name)[5])
{
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 | uint32_t(uint8_t(name[2])) << 8 |
           uint32_t(uint8_t(name[3]));
}
std::string typeText(uint32_t type);

// One box inside a span of bytes.
struct Box {
    uint32_t type = 0;
    size_t offset = 0; // of its header, in the span
    size_t header = 8;
    uint64_t size = 0; // header included
    size_t contentOffset() const { return offset + header; }
    uint64_t contentSize() const { return size - header; }
};

// Walks the boxes of a span; stops (false) at the end or at a box that does not fit.
class BoxCursor {
public:
    BoxCursor(const uint8_t* data, size_t size) : mData(data), mSize(size) {}
    bool next(Box& box);
    // Whether the boxes walked so far fill the span exactly (nothing cut short after).
    bool atEnd() const { return mPos == mSize; }
    // The first child of the given type, found from the start.
    bool find(uint32_t type, Box& box);
    const uint8_t* data() const { return mData; }

private:
    const uint8_t* mData;
    size_t mSize;
    size_t mPos = 0;
};

// Bounded big-endian reads; reading past the end sets !ok() and answers 0.
class FieldReader {
public:
    FieldReader(const uint8_t* data, size_t size) : mData(data), mSize(size) {}
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    uint64_t u64();
    void skip(size_t n);
    bool ok() const { return mOk; }
    size_t position() const { return mPos; }
    size_t remaining() const { return mOk ? mSize - mPos : 0; }

private:
    bool take(size_t n);
    const uint8_t* mData;
    size_t mSize;
    size_t mPos = 0;
    bool mOk = true;
};

// Appends boxes; open() and close() nest, close() writes the size.
class BoxWriter {
public:
    void open(uint32_t type);
    void openFull(uint32_t type, uint8_t version, uint32_t flags);
    void close();
    void u8(uint8_t v) { mBytes.push_back(v); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    void u64(uint64_t v);
    void bytes(const uint8_t* data, size_t size) { mBytes.insert(mBytes.end(), data, data + size); }
    void bytes(const std::vector<uint8_t>& data) { bytes(data.data(), data.size()); }
    std::vector<uint8_t>& result() { return mBytes; }

private:
    std::vector<uint8_t> mBytes;
    std::vector<size_t> mOpen;
};

} // namespace orva::boxes
