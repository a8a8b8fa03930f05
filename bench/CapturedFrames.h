// Real frames for the benchmarks: one second of H.264 from the simulated camera
// (captured once through the component and kept), and PCM buffers of a tone.
#pragma once

#include <cstdint>
#include <vector>

namespace orvabench {

// Thirty Annex B frames of 1920x1080 H.264, the first an IDR with SPS and PPS.
const std::vector<std::vector<uint8_t>>& capturedH264Frames();

} // namespace orvabench
