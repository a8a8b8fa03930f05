// The index (moov box) that makes a working movie a regular one in place: the first
// movie box's descriptions with sample tables listing every sample the fragments
// hold where it already lies in the file (so no media is copied), track and movie
// durations, and an edit list where a track needs one (hiding the AAC encoder's
// priming, or starting a track that began late at its time). Uncompressed sound is listed as
// one sample per frame, as QuickTime readers expect. Tracks without samples, or
// whose sample description a reader could not use, are left out, each with a note.
#pragma once

#include "platform/writer/FragmentedMovie.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orva {

class MovieIndex {
public:
    struct Result {
        std::vector<uint8_t> bytes; // the moov box; empty when no track can be kept
        double seconds = 0;         // the movie's length
        size_t tracks = 0;          // tracks kept
        std::vector<std::string> notes; // a line per track left out
    };
    struct Options {
        bool metadata = true;            // the movie's metadata (creation time, ...)
        std::vector<uint32_t> leaveOut;  // track ids
    };
    static Result build(const FragmentedMovie& movie, const Options& options);
};

} // namespace orva
