// What a working movie holds, read from its boxes without reading its media: the
// first movie box (the tracks' descriptions and their fragment defaults), every
// complete fragment's samples (where each lies in the file, its size, duration and
// whether it is a sync sample), and where the complete part of the file ends. A
// fragment counts when its moof box and the mdat box after it are whole and every
// sample it names lies in that mdat; reading stops at the first that does not (a
// tail cut short by a crash or a full disk). A file already finished in place (an
// index after the fragments) is recognised as such.
//
// Any thread; reads the file with pread, at most a few megabytes of boxes at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orva {

class FragmentedMovie {
public:
    struct Sample {
        uint64_t offset = 0;       // in the file
        uint32_t size = 0;
        uint32_t duration = 0;     // in the track's timescale
        int32_t compositionOffset = 0;
        bool sync = true;
    };
    // A run of samples lying back to back in the file (one trun).
    struct Chunk {
        size_t firstSample = 0;
        size_t count = 0;
    };
    struct Track {
        uint32_t id = 0;
        std::vector<uint8_t> trak; // the first movie box's trak, whole
        std::vector<uint8_t> stsd; // its sample descriptions, whole
        uint32_t timescale = 0;    // the media's (mdhd)
        uint32_t handler = 0;      // 'vide', 'soun', ...
        uint32_t codec = 0;        // the first sample description's format
        bool describable = false;  // a sample description the movie can carry
        std::string problem;       // why not, when not
        uint32_t defaultDuration = 0, defaultSize = 0, defaultFlags = 0; // trex
        std::vector<Sample> samples;
        std::vector<Chunk> chunks;
        uint64_t start = UINT64_MAX; // the decode time of the first sample (tfdt)
        uint64_t end = 0;            // the decode time after the last sample
    };

    uint32_t movieTimescale = 1000;
    std::vector<uint8_t> mvhd; // whole boxes, as in the first movie box
    std::vector<uint8_t> udta;
    uint64_t firstMoovOffset = 0;
    bool firstMoovHeadedByMvhd = false; // its first child, right after an 8-byte header, is mvhd
    std::vector<Track> tracks;
    std::vector<uint64_t> fragments; // each complete moof's offset
    std::vector<uint64_t> strays;    // other boxes before the index readers need not see (mfra, ...)
    uint64_t completeEnd = 0;        // the file's complete part ends here
    uint64_t fileSize = 0;
    bool finished = false;           // an index was written after the fragments
    uint64_t indexOffset = 0;        // where that index is, when finished
    bool firstMoovFragmented = false; // the first movie box is a fragmented movie's (mvex)
    bool firstMoovNeutralised = false;
    double indexSeconds = 0;         // the index's length and tracks, when finished
    size_t indexTracks = 0;
    int64_t aacPriming = 0;          // frames, from the movie's metadata

    // Null with a reason when the file is not a working movie at all.
    static std::optional<FragmentedMovie> read(int fd, std::string* error);
    // Samples over all tracks.
    size_t sampleCount() const;
};

} // namespace orva
