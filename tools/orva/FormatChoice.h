// The formats as the commands spell them, chosen on an open device, and frame rates
// as a camera declares them. Pure functions, but for the choosers (main thread).
#pragma once

#include "Cli.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace orva {
class FormatDescription;
class OrvaAudioDevice;
class OrvaVideoDevice;
struct AudioStreamBasicDescription;
} // namespace orva

namespace cli {

// Formats as the commands spell them: avc1:1280x720, lpcm:48000:2:16, aac:48000:2.
// A video format may name its frame rate: avc1:1280x720@15 (0: the camera's default).
struct VideoChoice {
    uint32_t codec = 0;
    int32_t width = 0, height = 0;
    double fps = 0;
};
std::optional<VideoChoice> parseVideoFormat(const std::string& text);
// The format of `option` (CODEC:WIDTHxHEIGHT[@FPS], else `fallback`) with --fps;
// null after saying what is wrong.
std::optional<VideoChoice> videoChoice(const Invocation& invocation, const char* option, const char* fallback);
// Chooses the format and frame rate on the open camera; null after saying what it
// offers instead.
std::shared_ptr<const orva::FormatDescription> chooseVideoFormat(const Invocation& invocation,
                                                                 orva::OrvaVideoDevice& camera,
                                                                 const VideoChoice& choice);
// A frame interval (100 ns units) as the camera declares its rate: 30, 15, 29.97;
// and exactly, as frames per second numerator/denominator (30000/1001).
std::string rateText(uint32_t interval);
std::pair<int64_t, int64_t> rateFraction(uint32_t interval);
double rateRounded(uint32_t interval);
struct AudioChoice {
    uint32_t tag = 0, rate = 0, channels = 0, bits = 0;
};
std::optional<AudioChoice> parseAudioFormat(const std::string& text);
std::shared_ptr<const orva::FormatDescription> findVideoFormat(orva::OrvaVideoDevice& camera, const VideoChoice& choice);
std::shared_ptr<const orva::FormatDescription> findAudioFormat(orva::OrvaAudioDevice& mic, const AudioChoice& choice);
std::string audioFormatText(const orva::AudioStreamBasicDescription& description);
std::string fourccText(uint32_t code);

} // namespace cli
