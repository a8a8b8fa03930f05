#include "UvcDescriptors.h"

#include <algorithm>

namespace zi::sys {

namespace {
constexpr uint8_t kInterface = 0x04;
constexpr uint8_t kClassSpecificInterface = 0x24;
constexpr uint8_t kVideoClass = 0x0E;
constexpr uint8_t kVideoControlSubclass = 0x01;
constexpr uint8_t kExtensionUnit = 0x06;
} // namespace

std::array<uint8_t, 16> guidFromDescriptor(const uint8_t* stored)
{
    std::array<uint8_t, 16> guid{};
    std::copy(stored, stored + 16, guid.begin());
    std::reverse(guid.begin(), guid.begin() + 4); // Data1, 32 bits
    std::reverse(guid.begin() + 4, guid.begin() + 6); // Data2
    std::reverse(guid.begin() + 6, guid.begin() + 8); // Data3
    return guid;
}

std::vector<ExtensionUnit> parseExtensionUnits(const std::vector<uint8_t>& bytes, int interfaceNumber)
{
    std::vector<ExtensionUnit> units;
    bool inVideoControl = false;
    size_t at = 0;
    while (at + 2 <= bytes.size()) {
        const uint8_t length = bytes[at];
        const uint8_t type = bytes[at + 1];
        if (length < 2 || at + length > bytes.size()) break;
        const uint8_t* d = bytes.data() + at;
        if (type == kInterface && length >= 9) {
            inVideoControl = d[5] == kVideoClass && d[6] == kVideoControlSubclass &&
                             (interfaceNumber < 0 || d[2] == interfaceNumber);
        } else if (inVideoControl && type == kClassSpecificInterface && length >= 24 && d[2] == kExtensionUnit) {
            // bUnitID, guidExtensionCode[16], bNumControls, bNrInPins, baSourceID[p],
            // bControlSize, bmControls[n], iExtension.
            const size_t pins = d[21];
            const size_t sizeAt = 22 + pins;
            if (sizeAt < length) {
                const size_t controlSize = d[sizeAt];
                if (sizeAt + 1 + controlSize <= length) {
                    ExtensionUnit unit;
                    unit.unitID = d[3];
                    unit.guid = guidFromDescriptor(d + 4);
                    for (size_t byte = 0; byte < controlSize; ++byte)
                        for (int bit = 0; bit < 8; ++bit)
                            if (d[sizeAt + 1 + byte] & (1u << bit) && byte * 8 + bit < 255)
                                unit.selectors.push_back(static_cast<uint8_t>(byte * 8 + bit + 1));
                    units.push_back(std::move(unit));
                }
            }
        }
        at += length;
    }
    return units;
}

} // namespace zi::sys
