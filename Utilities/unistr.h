// UTF-16 string functions: arrays of 16-bit code units ended by a 0 unit, as the
// capture library uses them for device names and paths.
//
// Every function is pure and may be called from any thread. Text strings on the
// component side are UTF-8 std::string; unpaired surrogates are carried through as
// three-byte sequences so that a conversion there and back gives the same units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orva {

// One UTF-16 code unit.
using unichar = uint16_t;

// Number of units before the 0 unit.
[[nodiscard]] size_t unistr_length(const unichar* str);

// Copies at most capacity - 1 units, stopping at the source's 0 unit, and always ends
// the destination with a 0 unit; answers the number of units copied. A capacity of 0
// writes nothing and answers 0.
uint32_t unistr_copy(unichar* dst, const unichar* src, uint32_t capacity);

// True when both strings have the same units and the same length. A null argument
// stops the process with an assertion failure.
[[nodiscard]] bool unistr_equal(const unichar* str1, const unichar* str2);

// Writes all of the text's UTF-16 units and a 0 unit; dst must hold them.
void unistr_copyFromCFString(unichar* dst, const std::string& str);

// A new text string of the units before the 0 unit.
[[nodiscard]] std::string unistr_createCFString(const unichar* str);

// Writes the string as zero-terminated UTF-8. When it does not fit, as many whole
// characters as fit are written, then the 0 byte. A capacity of 0 writes nothing.
void unistr_toUTF8(const unichar* str, char* buffer, uint32_t capacity);

// Writes the UTF-16 units of zero-terminated UTF-8 text and a 0 unit; dst must hold
// them. Each byte that does not start a valid sequence becomes U+FFFD.
void unistr_fromUTF8(const char* utf8, unichar* dst);

} // namespace orva
