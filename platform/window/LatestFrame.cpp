#include "platform/window/LatestFrame.h"

namespace orva {

void LatestFrame::publish()
{
    // The filled buffer becomes the ready one; the one it replaces is filled next.
    mBack = mReady.exchange(mBack | kFresh, std::memory_order_acq_rel) & ~kFresh;
}

const LatestFrame::Picture* LatestFrame::take()
{
    if (!(mReady.load(std::memory_order_acquire) & kFresh)) return nullptr;
    mFront = mReady.exchange(mFront, std::memory_order_acq_rel) & ~kFresh;
    return &mPictures[mFront];
}

} // namespace orva
