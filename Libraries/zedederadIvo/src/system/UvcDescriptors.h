// The extension units of a UVC camera, read from the USB device's raw descriptors
// (sysfs "descriptors": the device descriptor, then the active configuration).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace zi::sys {

struct ExtensionUnit {
    // The unit's GUID in the order of its text form (the descriptor stores the first
    // three fields little-endian; they are swapped here).
    std::array<uint8_t, 16> guid{};
    uint8_t unitID = 0;
    // Control selectors the unit has (bit n of bmControls is selector n + 1).
    std::vector<uint8_t> selectors;
};

// The extension units of the VideoControl interface numbered `interfaceNumber`
// (any interface when negative). Malformed descriptors end the walk early; nothing
// is read outside `bytes`.
std::vector<ExtensionUnit> parseExtensionUnits(const std::vector<uint8_t>& bytes, int interfaceNumber);

// GUID bytes as stored in a USB descriptor <-> the order of the GUID's text.
std::array<uint8_t, 16> guidFromDescriptor(const uint8_t* stored);

} // namespace zi::sys
