// UTF-16 fields of the ABI's records and UTF-8 text, shared by both implementations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zi {

// The units before the first 0 (at most maxUnits), as UTF-8.
std::string utf16ToUtf8(const uint16_t* text, size_t maxUnits);
// Fills a field of `units` units: the text as UTF-16, cut to leave a 0 unit, then zeros.
void utf8ToUtf16Field(const std::string& text, uint16_t* field, size_t units);

} // namespace zi
