// Reads a movie back with libavformat and sums it up: its tracks (kind, codec and
// tag, size or sample rate and channels, frames or packets, start and duration) and
// the file's size and duration. Any thread; reads the whole file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orva {

class MovieProbe {
public:
    struct Track {
        std::string kind;     // "video", "audio", "other"
        std::string codec;    // libavformat's codec name ("h264", "rawvideo", "pcm_s16le", "aac")
        std::string tag;      // the sample description's four-character code ("avc1", "2vuy", "sowt", "mp4a")
        int width = 0, height = 0;
        int sampleRate = 0, channels = 0;
        int64_t packets = 0;  // samples (video frames, audio packets) read back
        double start = 0;     // seconds
        double duration = 0;  // seconds, from the packets' timestamps and durations
        size_t extradataSize = 0; // the avcC record or AudioSpecificConfig
    };
    struct Summary {
        std::string format;
        int64_t fileSize = 0;
        double duration = 0;
        std::vector<Track> tracks;
    };

    // Null with a reason in `error` when the file cannot be read as a movie.
    static std::optional<Summary> probe(const std::string& path, std::string* error = nullptr);
    // A few lines a person can read.
    static std::string describe(const Summary& summary);
};

} // namespace orva
