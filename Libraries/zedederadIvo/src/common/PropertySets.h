// The property sets of the camera's standard controls, as the library names them:
// UUID bytes in the order of the UUID's text.
#pragma once

#include <array>
#include <cstdint>

namespace zi {

using Uuid = std::array<uint8_t, 16>;

inline constexpr Uuid kCameraTerminalSet{0xEE, 0xAC, 0xD0, 0x5B, 0x19, 0x30, 0x48, 0x7F,
                                         0x80, 0xEA, 0xA9, 0x1A, 0x94, 0xB6, 0x4F, 0x51};
inline constexpr Uuid kProcessingUnitSet{0xB4, 0xA4, 0xD5, 0x4F, 0x45, 0xFD, 0x48, 0x90,
                                         0x8C, 0xC8, 0x3B, 0x4D, 0x80, 0x7E, 0xB2, 0x3A};

inline constexpr uint32_t kFourccAvc1 = 0x61766331; // 'avc1'
inline constexpr uint32_t kFourcc2vuy = 0x32767579; // '2vuy'

} // namespace zi
