// A UUID made from its canonical text (8-4-4-4-12 hexadecimal digits, either case,
// optionally in braces). bytes() are in the text's order: the first byte is the
// value of the first two digits. A plain value, safe on any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orva {

class UUID {
public:
    [[nodiscard]] static std::optional<UUID> fromString(std::string_view text);
    explicit UUID(const std::array<uint8_t, 16>& bytes) : mBytes(bytes) {}

    const std::array<uint8_t, 16>& bytes() const { return mBytes; }
    std::string string() const; // upper case, canonical form
    bool operator==(const UUID&) const = default;

private:
    std::array<uint8_t, 16> mBytes;
};

} // namespace orva
