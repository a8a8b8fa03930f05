#include "recording/H264BoxFormat.h"

#include <cstdio>
#include <cstring>

namespace orva {

namespace {

void writeBigEndian(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

uint32_t readBigEndian(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
           static_cast<uint32_t>(at[2]) << 8 | at[3];
}

// The first q ≥ from with q + 4 ≤ end and data[q..q+3] = 00 00 00 01, or end. The
// same answer as testing every position in turn, found with memchr on the 01 byte
// (which is rare in coded data) and a look back at the three bytes before it.
size_t nextStartCode(const uint8_t* data, size_t from, size_t end)
{
    if (end < 4 || from > end - 4) return end;
    size_t p = from + 3; // where the 01 of a start code at `from` would be
    while (p < end) {
        const void* hit = std::memchr(data + p, 0x01, end - p);
        if (!hit) return end;
        p = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
        if (data[p - 1] == 0 && data[p - 2] == 0 && data[p - 3] == 0) return p - 3;
        ++p;
    }
    return end;
}

} // namespace

void ConvertStreamToBoxFormat(uint8_t* data, uint32_t length)
{
    if (data == nullptr || length == 0) return;
    const size_t end = length;
    size_t current = 0;
    if (end >= 4) {
        size_t q = nextStartCode(data, 0, end);
        while (q < end) {
            if (q != current) {
                writeBigEndian(data + current, static_cast<uint32_t>(q - current - 4));
                current = q;
            }
            q = nextStartCode(data, q + 4, end);
        }
        if (current + 4 < end) writeBigEndian(data + current, static_cast<uint32_t>(end - current - 4));
    }
    // The check: the length fields must walk exactly to the end.
    size_t at = 0;
    while (at < end) {
        if (end - at < 4) break;
        const uint64_t next = at + 4 + static_cast<uint64_t>(readBigEndian(data + at));
        if (next > end) break;
        at = static_cast<size_t>(next);
    }
    if (at != end) {
        std::fputs("*** [Error] in converting to box format!!!\n", stdout);
        std::fflush(stdout);
    }
}

void H264ConvertStreamToBoxFormat(uint8_t* data, uint32_t length)
{
    ConvertStreamToBoxFormat(data, length);
}

bool FindNALUnit(uint8_t type, const uint8_t* data, uint32_t length, uint32_t* unitLength, const uint8_t** unit)
{
    if (data == nullptr) return false;
    uint64_t at = 0;
    while (at + 5 <= length) { // a length field and a header byte inside the buffer
        const uint32_t n = readBigEndian(data + at);
        if ((data[at + 4] & 0x1F) == type) {
            if (unitLength) *unitLength = n;
            if (unit) *unit = data + at + 4;
            return true;
        }
        at += 4 + static_cast<uint64_t>(n);
    }
    return false;
}

std::shared_ptr<const std::vector<uint8_t>> CreateH264ExtensionData(const uint8_t* sps, uint32_t spsLength,
                                                                     const uint8_t* pps, uint32_t ppsLength)
{
    if ((spsLength && !sps) || (ppsLength && !pps) || spsLength > 0xFFFF || ppsLength > 0xFFFF) return nullptr;
    std::vector<uint8_t> record(static_cast<size_t>(spsLength) + ppsLength + 11, 0);
    record[0] = 1;
    for (uint32_t i = 1; i <= 3; ++i) record[i] = i < spsLength ? sps[i] : 0;
    record[4] = 0xFF;
    size_t p = 6;
    if (spsLength > 0) {
        record[5] = 0xE1;
        record[6] = static_cast<uint8_t>(spsLength >> 8);
        record[7] = static_cast<uint8_t>(spsLength);
        std::memcpy(record.data() + 8, sps, spsLength);
        p = 8 + spsLength;
    } else {
        record[5] = 0xE0;
    }
    if (ppsLength > 0) {
        record[p] = 1;
        record[p + 1] = static_cast<uint8_t>(ppsLength >> 8);
        record[p + 2] = static_cast<uint8_t>(ppsLength);
        std::memcpy(record.data() + p + 3, pps, ppsLength);
        record.resize(p + 3 + ppsLength);
    } else {
        record[p] = 0;
        record.resize(p + 1);
    }
    return std::make_shared<const std::vector<uint8_t>>(std::move(record));
}

} // namespace orva
