// Moving test patterns of the simulated camera: colour bars that scroll, a square
// that bounces and a frame counter strip, in 4:2:0 planar (for the encoder) or
// packed 4:2:2 '2vuy' (U Y0 V Y1).
#pragma once

#include <cstdint>
#include <vector>

namespace zi {

void drawPattern420(std::vector<uint8_t>& out, uint32_t width, uint32_t height, int64_t frame);
void drawPattern2vuy(std::vector<uint8_t>& out, uint32_t width, uint32_t height, int64_t frame);

} // namespace zi
