#include "platform/writer/MovieBoxes.h"

namespace orva::boxes {

std::string typeText(uint32_t type)
{
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((type >> (24 - 8 * i)) & 0xFF);
        text[static_cast<size_t>(i)] = c >= 0x20 && c < 0x7F ? c : '?';
    }
    return text;
}

bool BoxCursor::next(Box& box)
{
    if (mPos + 8 > mSize) return false;
    FieldReader r(mData + mPos, mSize - mPos);
    uint64_t size = r.u32();
    box.type = r.u32();
    box.header = 8;
    if (size == 1) {
        size = r.u64();
        box.header = 16;
    } else if (size == 0) {
        size = mSize - mPos; // to the end
    }
    if (!r.ok() || size < box.header || size > mSize - mPos) return false;
    box.offset = mPos;
    box.size = size;
    mPos += static_cast<size_t>(size);
    return true;
}

bool BoxCursor::find(uint32_t wanted, Box& box)
{
    BoxCursor cursor(mData, mSize);
    while (cursor.next(box))
        if (box.type == wanted) return true;
    return false;
}

bool FieldReader::take(size_t n)
{
    if (!mOk || n > mSize - mPos) {
        mOk = false;
        return false;
    }
    return true;
}

uint8_t FieldReader::u8()
{
    if (!take(1)) return 0;
    return mData[mPos++];
}

uint16_t FieldReader::u16()
{
    if (!take(2)) return 0;
    const uint16_t v = static_cast<uint16_t>(mData[mPos] << 8 | mData[mPos + 1]);
    mPos += 2;
    return v;
}

uint32_t FieldReader::u32()
{
    if (!take(4)) return 0;
    const uint32_t v = uint32_t(mData[mPos]) << 24 | uint32_t(mData[mPos + 1]) << 16 | uint32_t(mData[mPos + 2]) << 8 |
                       uint32_t(mData[mPos + 3]);
    mPos += 4;
    return v;
}

uint64_t FieldReader::u64()
{
    const uint64_t high = u32();
    return high << 32 | u32();
}

void FieldReader::skip(size_t n)
{
    if (take(n)) mPos += n;
}

void BoxWriter::open(uint32_t type)
{
    mOpen.push_back(mBytes.size());
    u32(0);
    u32(type);
}

void BoxWriter::openFull(uint32_t type, uint8_t version, uint32_t flags)
{
    open(type);
    u32(uint32_t{version} << 24 | (flags & 0xFFFFFF));
}

void BoxWriter::close()
{
    const size_t start = mOpen.back();
    mOpen.pop_back();
    const uint64_t size = mBytes.size() - start;
    for (int i = 0; i < 4; ++i) mBytes[start + static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (24 - 8 * i));
}

void BoxWriter::u16(uint16_t v)
{
    mBytes.push_back(static_cast<uint8_t>(v >> 8));
    mBytes.push_back(static_cast<uint8_t>(v));
}

void BoxWriter::u32(uint32_t v)
{
    for (int i = 0; i < 4; ++i) mBytes.push_back(static_cast<uint8_t>(v >> (24 - 8 * i)));
}

void BoxWriter::u64(uint64_t v)
{
    u32(static_cast<uint32_t>(v >> 32));
    u32(static_cast<uint32_t>(v));
}

} // namespace orva::boxes
