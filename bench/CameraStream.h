// Benchmark inputs that look like a camera's: 1080p30 H.264 of noisy, moving content
// encoded at set-up by libx264 (through libavcodec) at a chosen bit rate, as a camera
// that encodes delivers it (Annex B, SPS and PPS before each IDR, a key frame every
// second), and working sets of such frames several times the size of the last-level
// cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvabench {

struct CameraStream {
    std::vector<std::vector<uint8_t>> frames; // Annex B access units, 3- and 4-byte start codes as encoded
    int width = 0, height = 0, fps = 0;
    int bitrate = 0; // bits per second asked of the encoder
    size_t bytes() const;
};

// `seconds` of 1920x1080 at 30 fps, encoded at `megabitsPerSecond`; kept for the
// process, so each bit rate is encoded once.
const CameraStream& cameraStream(int megabitsPerSecond, int seconds = 5);

// Every start code made 4 bytes long (00 00 01 → 00 00 00 01), as the camera backend
// hands frames on; the code that converts start codes to lengths takes only those.
std::vector<uint8_t> withFourByteStartCodes(const std::vector<uint8_t>& frame);

// Camera-like 1080p 2vuy: noise over a gradient, `count` frames to take in turn.
std::vector<std::vector<uint8_t>> rawFrames(size_t count = 8);

// The last-level cache's size in bytes (from sysfs; 32 MiB when unknown).
size_t lastLevelCacheBytes();

// Copies of the stream's frames (each a separate allocation) until they hold at least
// `bytes`: a working set that does not fit in the caches.
std::vector<std::vector<uint8_t>> workingSet(const std::vector<std::vector<uint8_t>>& frames, size_t bytes);

} // namespace orvabench
