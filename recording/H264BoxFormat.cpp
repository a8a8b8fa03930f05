#include "recording/H264BoxFormat.h"
#include "platform/foundation/ConsoleLog.h"

#include <algorithm>
#include <cstdio>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
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

// The first q ≥ from with q + 4 ≤ end and data[q..q+3] = 00 00 00 01, or end: the
// same answer as testing every position in turn. With AVX2 the whole pattern is
// compared 64 positions at a time; otherwise memchr finds each 01 byte and the three
// bytes before it are looked at.
bool isStartCodeAt(const uint8_t* data, size_t p)
{
    return data[p] == 0 && data[p + 1] == 0 && data[p + 2] == 0 && data[p + 3] == 1;
}

size_t nextStartCodePortable(const uint8_t* data, size_t from, size_t end)
{
    size_t p = from + 3; // where the 01 of a start code at `from` would be
    while (p < end) {
        const void* hit = std::memchr(data + p, 0x01, end - p);
        if (!hit) return end;
        p = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
        if (isStartCodeAt(data, p - 3)) return p - 3;
        ++p;
    }
    return end;
}

#if defined(__x86_64__)
// The whole pattern at once, 32 positions a vector: position p + 3 holds 01 and the
// three bytes before it are 00. Four overlapping loads (from the same cache lines)
// answer it with no false candidates, so in dense camera data (a 01 byte every few
// hundred bytes) the loop does not stop until a real start code.
__attribute__((target("avx2"))) inline uint32_t startCodeMask(const uint8_t* ones)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i v3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ones));
    const __m256i v2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ones - 1));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ones - 2));
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ones - 3));
    const __m256i zeros = _mm256_cmpeq_epi8(_mm256_or_si256(_mm256_or_si256(v0, v1), v2), zero);
    const __m256i hit = _mm256_and_si256(zeros, _mm256_cmpeq_epi8(v3, _mm256_set1_epi8(1)));
    return static_cast<uint32_t>(_mm256_movemask_epi8(hit));
}

__attribute__((target("avx2"))) size_t nextStartCodeAVX2(const uint8_t* data, size_t from, size_t end)
{
    size_t s = from + 3; // where the 01 of a start code at `from` would be
    while (s + 64 <= end) {
        const uint32_t low = startCodeMask(data + s), high = startCodeMask(data + s + 32);
        if (low) return s + static_cast<size_t>(__builtin_ctz(low)) - 3;
        if (high) return s + 32 + static_cast<size_t>(__builtin_ctz(high)) - 3;
        s += 64;
    }
    for (size_t p = s - 3; p + 4 <= end; ++p) // the last few bytes, one at a time
        if (data[p + 3] == 1 && isStartCodeAt(data, p)) return p;
    return end;
}

const bool kHasAVX2 = [] {
    __builtin_cpu_init(); // static initialisers may run before libgcc's own
    return __builtin_cpu_supports("avx2") != 0;
}();
#endif

size_t nextStartCode(const uint8_t* data, size_t from, size_t end)
{
    if (end < 4 || from > end - 4) return end;
#if defined(__x86_64__)
    if (kHasAVX2) return nextStartCodeAVX2(data, from, end);
#endif
    return nextStartCodePortable(data, from, end);
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
        const uint64_t next = at + 4 + static_cast<uint64_t>(ReadUnitLength(data + at));
        if (next > end) break;
        at = static_cast<size_t>(next);
    }
    if (at != end) {
        ConsoleLog::print(OrvaLogLevel::Error, ConsoleLog::Stream::StandardOutput, "*** [Error] in converting to box format!!!\n");
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
        const uint32_t n = ReadUnitLength(data + at);
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
