// Finishes a working movie in place: the fragmented file the asset writer makes while
// recording (complete, or cut short by a crash, a kill or a full disk) becomes a
// regular QuickTime movie without copying a byte of its media. A partial fragment at
// its end is cut off; an index listing every sample where it already lies is
// appended and synced; then the fragments' own descriptions (and the first, empty
// movie box) become free space, so readers see one ordinary movie. Stopped at any
// moment, the file is still a movie or a working movie this turns into one: until
// the index is synced it is the working movie it was, and while the descriptions
// are being freed the index is already whole. A movie already finished is left as
// it is.
//
// Any thread; reads a few boxes, writes the index (a few hundred kilobytes an hour).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace orva {

class MovieFinisher {
public:
    struct Result {
        bool ok = false;
        std::string error;        // why not, when not ok
        double seconds = 0;       // the movie's length
        bool diskFull = false;    // no room for the index: the file is left a working movie
        bool alreadyFinished = false;
        bool cut = false;         // a partial tail was cut off
        bool nothingComplete = false; // not one sample is whole: nothing can be played
        size_t tracks = 0;
        uint64_t bytesWritten = 0;
        std::vector<std::string> notes; // tracks left out, and why
    };
    // `fd` is the working movie, open for reading and writing.
    static Result finishInPlace(int fd);

    // Where finishing stands, for tests that stop it there.
    enum class Step { IndexWritten, FreeingDescriptions };
    static void setStepHookForTesting(std::function<void(Step)> hook);
};

} // namespace orva
