#include "Utilities/unistr.h"
#include "platform/foundation/ConsoleLog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orva {

namespace {

bool isHigh(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Appends the UTF-8 form of one code point (surrogates included) to out; answers its length.
size_t encode(uint32_t cp, char* out)
{
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

// Walks the string's code points: a valid pair becomes one, a lone surrogate stands alone.
template <typename Sink>
void forEachCodePoint(const unichar* str, Sink sink)
{
    for (size_t i = 0; str[i] != 0; ++i) {
        uint32_t cp = str[i];
        if (isHigh(cp) && isLow(str[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (str[i + 1] - 0xDC00u);
            ++i;
        }
        if (!sink(cp)) return;
    }
}

// Decodes one UTF-8 sequence at s; answers its length (0 when invalid).
size_t decode(const unsigned char* s, uint32_t& cp)
{
    const unsigned char b = s[0];
    size_t len;
    uint32_t min;
    if (b < 0x80) {
        cp = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        len = 2, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    for (size_t k = 1; k < len; ++k) {
        if ((s[k] & 0xC0) != 0x80) return 0; // also stops at the 0 byte
        cp = (cp << 6) | (s[k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF) return 0;
    return len;
}

} // namespace

size_t unistr_length(const unichar* str)
{
    size_t n = 0;
    while (str[n] != 0) ++n;
    return n;
}

uint32_t unistr_copy(unichar* dst, const unichar* src, uint32_t capacity)
{
    if (capacity == 0) return 0;
    uint32_t n = 0;
    while (n + 1 < capacity && src[n] != 0) {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = 0;
    return n;
}

bool unistr_equal(const unichar* str1, const unichar* str2)
{
    if (!(str1 != NULL && str2 != NULL)) {
        ConsoleLog::print(OrvaLogLevel::Error, ConsoleLog::Stream::StandardError, "Assertion failed: (str1 != NULL && str2 != NULL), function unistr_equal, file %s, line %d.\n",
                     __FILE__, __LINE__);
        std::abort();
    }
    size_t i = 0;
    for (; str1[i] != 0 && str2[i] != 0; ++i)
        if (str1[i] != str2[i]) return false;
    return str1[i] == str2[i];
}

void unistr_copyFromCFString(unichar* dst, const std::string& str)
{
    unistr_fromUTF8(str.c_str(), dst);
}

std::string unistr_createCFString(const unichar* str)
{
    std::string out;
    if (str == nullptr) return out;
    forEachCodePoint(str, [&](uint32_t cp) {
        char bytes[4];
        out.append(bytes, encode(cp, bytes));
        return true;
    });
    return out;
}

void unistr_toUTF8(const unichar* str, char* buffer, uint32_t capacity)
{
    if (capacity == 0 || buffer == nullptr) return;
    size_t used = 0;
    if (str != nullptr) {
        forEachCodePoint(str, [&](uint32_t cp) {
            char bytes[4];
            const size_t n = encode(cp, bytes);
            if (used + n + 1 > capacity) return false;
            std::memcpy(buffer + used, bytes, n);
            used += n;
            return true;
        });
    }
    buffer[used] = 0;
}

void unistr_fromUTF8(const char* utf8, unichar* dst)
{
    size_t o = 0;
    const auto* s = reinterpret_cast<const unsigned char*>(utf8);
    while (*s != 0) {
        uint32_t cp = 0;
        size_t len = decode(s, cp);
        if (len == 0) {
            cp = 0xFFFD;
            len = 1;
        }
        s += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            dst[o++] = static_cast<unichar>(0xD800 + (cp >> 10));
            dst[o++] = static_cast<unichar>(0xDC00 + (cp & 0x3FF));
        } else {
            dst[o++] = static_cast<unichar>(cp);
        }
    }
    dst[o] = 0;
}

} // namespace orva
