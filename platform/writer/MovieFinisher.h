// Turns a working movie (the fragmented file the asset writer makes while recording,
// complete or cut short by a crash or a full disk) into a regular QuickTime movie:
// every packet copied as it is, the AAC priming the working file notes hidden with an
// edit list, creation time and track languages kept. What cannot be read at the end
// of a cut-short file is left out. Any thread; reads and writes the whole movie.
#pragma once

#include <string>

namespace orva {

class MovieFinisher {
public:
    struct Result {
        bool ok = false;
        std::string error;     // why not, when not ok
        double seconds = 0;    // the movie's length
        bool diskFull = false; // the writing failed for lack of space
    };
    // Writes the regular movie to `fd` (an empty file open for writing; left open).
    static Result finish(const std::string& workingPath, int fd);
};

} // namespace orva
