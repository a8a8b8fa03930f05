// UTF-16 fields of the ABI's records and UTF-8 text.
#include "Text.h"

namespace zi {

std::string utf16ToUtf8(const uint16_t* text, size_t maxUnits)
{
    std::string out;
    if (text == nullptr) return out;
    for (size_t i = 0; i < maxUnits && text[i] != 0; ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < maxUnits && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

void utf8ToUtf16Field(const std::string& text, uint16_t* field, size_t units)
{
    size_t o = 0;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n && o + 1 < units;) {
        uint32_t cp = s[i];
        size_t len = 1;
        if (cp >= 0xF0 && i + 3 < n) {
            cp = ((cp & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
            len = 4;
        } else if (cp >= 0xE0 && i + 2 < n) {
            cp = ((cp & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            len = 3;
        } else if (cp >= 0xC0 && i + 1 < n) {
            cp = ((cp & 0x1F) << 6) | (s[i + 1] & 0x3F);
            len = 2;
        }
        i += len;
        if (cp >= 0x10000) {
            if (o + 2 >= units) break;
            cp -= 0x10000;
            field[o++] = static_cast<uint16_t>(0xD800 + (cp >> 10));
            field[o++] = static_cast<uint16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            field[o++] = static_cast<uint16_t>(cp);
        }
    }
    for (; o < units; ++o) field[o] = 0;
}

} // namespace zi
