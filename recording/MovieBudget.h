// What a movie needs on disk a minute, at most, from the formats of its tracks: the
// recording checks it before it starts and ends when less is left.
#pragma once

#include <orva/OrvaMovieCreator.h>

#include <cstdint>

namespace orva {

class MovieBudget {
public:
    static uint64_t bytesPerMinute(const _OrvaVideoDescription* video, const _OrvaAudioDescription* audio);
};

} // namespace orva
