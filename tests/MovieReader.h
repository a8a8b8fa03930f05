// Reads a movie back with libavformat and decodes every packet with libavcodec, the
// way a player would, so tests check the file itself rather than the writer's word.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvatest {

struct ReadTrack {
    bool video = false;
    std::string tag;   // sample description code: "avc1", "2vuy", "sowt", "mp4a"
    std::string codec; // libavcodec's name
    int width = 0, height = 0, sampleRate = 0, channels = 0;
    double frameRate = 0; // the rate readers guess from the timing (r_frame_rate)
    std::vector<uint8_t> extradata;
    std::vector<double> pts;       // seconds, in file order
    std::vector<double> durations; // seconds
    std::vector<bool> keys;
    double start = 0, end = 0;     // seconds (after the edit list)
    int decoded = 0;               // frames the decoder produced
    int decodeErrors = 0;
    // Audio: each decoded frame's time (seconds) and peak (0-1, the largest sample
    // magnitude of any channel), in decoding order.
    std::vector<double> framePts, framePeaks;
    // Audio: the first channel's decoded samples (-1 to 1), in order.
    std::vector<float> samples;
};

struct ReadMovie {
    bool opened = false;
    std::vector<ReadTrack> tracks;
    std::vector<std::string> logged; // libav* messages at error level or worse
    const ReadTrack* video() const;
    const ReadTrack* audio() const;
};

ReadMovie readMovie(const std::string& path);

// The movie a working file (what the asset writer writes while recording) becomes
// once finished, written beside it as "<path>.finished.mov" and read back. `error`
// receives the finisher's reason when it fails (the movie is then not opened).
ReadMovie readFinishedMovie(const std::string& workingPath, std::string* error = nullptr);

} // namespace orvatest
