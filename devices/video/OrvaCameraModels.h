// Configuration: the maker's camera models whose zoom maximum the firmware reports
// wrongly, and the maximum the component reports for each instead (in this order).
// (The virtual cameras have product IDs of their own, 0x7E01 and 0x7E03.)
#pragma once

#include <cstdint>

namespace orva {

struct ZoomMaxOverride {
    uint16_t productID;
    int32_t reportedMaximum;
};

inline constexpr ZoomMaxOverride kZoomMaxOverrides[4] = {
    {0x08E6, 300},
    {0x08E9, 319},
    {0x08E4, 3},
    {0x08EA, 3},
};

// USB vendor id that the computer's own built-in camera reports.
inline constexpr uint16_t kBuiltInCameraVendorID = 0x05AC;

} // namespace orva
