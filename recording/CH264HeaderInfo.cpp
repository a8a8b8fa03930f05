#include "recording/CH264HeaderInfo.h"

#include "recording/H264BoxFormat.h"

namespace orva {

void CH264HeaderInfo::take(uint8_t type, const uint8_t* frame, uint32_t length, ParameterSet& into)
{
    uint32_t unitLength = 0;
    const uint8_t* unit = nullptr;
    if (!FindNALUnit(type, frame, length, &unitLength, &unit)) return;
    // A unit said to run past the frame is copied only as far as the frame goes.
    const auto available = static_cast<uint32_t>(frame + length - unit);
    const uint32_t n = unitLength < available ? unitLength : available;
    into.data.assign(unit - 4, unit + n);
    into.size = n + 4;
    into.owned = true;
}

void CH264HeaderInfo::Collect(const uint8_t* frame, uint32_t length)
{
    if (frame == nullptr) return;
    take(7, frame, length, mSPS);
    take(8, frame, length, mPPS);
}

} // namespace orva
