// Bridging the camera's H.264 Annex B frames (units after 00 00 00 01 start codes)
// and the movie's length-prefixed form (4-byte big-endian lengths), and building the
// avcC decoder configuration record. Stateless; any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace orva {

// The 4-byte big-endian length that precedes each unit of a box-format frame.
inline uint32_t ReadUnitLength(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
           static_cast<uint32_t>(at[2]) << 8 | at[3];
}

// Rewrites one frame in place: each start code becomes the big-endian length of the
// unit that follows it. The first four bytes are taken as the first start code,
// whatever they hold; a start code that ends the frame is left as it is. When the
// result does not walk exactly to the end, prints "*** [Error] in converting to box
// format!!!" on standard output (the frame is left converted as far as it went).
// Only 00 00 00 01 is a start code. Never reads or writes outside the frame.
void ConvertStreamToBoxFormat(uint8_t* data, uint32_t length);
// The entry point the movie creator calls; forwards to ConvertStreamToBoxFormat.
void H264ConvertStreamToBoxFormat(uint8_t* data, uint32_t length);

// The first unit of `type` (header & 0x1F) in a length-prefixed buffer: its length
// and a pointer to its header byte. Out-arguments are left alone when not found.
bool FindNALUnit(uint8_t type, const uint8_t* data, uint32_t length, uint32_t* unitLength, const uint8_t** unit);

// The avcC record for one SPS and one PPS given as bare units (no prefix); a length
// of 0 leaves that set out. 11 + spsLength + ppsLength bytes with both.
std::shared_ptr<const std::vector<uint8_t>> CreateH264ExtensionData(const uint8_t* sps, uint32_t spsLength,
                                                                     const uint8_t* pps, uint32_t ppsLength);

} // namespace orva
