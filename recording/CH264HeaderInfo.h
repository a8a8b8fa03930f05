// Copies of the last SPS and PPS found in H.264 frames, each kept with its 4-byte
// length prefix (so a one-byte unit has size 5). Belongs to one H.264 sample
// generator and is used under the movie creator's lock.
#pragma once

#include <cstdint>
#include <vector>

namespace orva {

class CH264HeaderInfo {
public:
    struct ParameterSet {
        std::vector<uint8_t> data; // prefix and unit
        uint32_t size = 0;
        bool owned = false;
    };

    // Takes the first SPS and the first PPS of a box-format frame; a set the frame
    // lacks keeps its earlier copy.
    void Collect(const uint8_t* frame, uint32_t length);

    const ParameterSet& sps() const { return mSPS; }
    const ParameterSet& pps() const { return mPPS; }

private:
    static void take(uint8_t type, const uint8_t* frame, uint32_t length, ParameterSet& into);
    ParameterSet mSPS;
    ParameterSet mPPS;
};

} // namespace orva
