#include "ShareReport.h"

#include "Terminal.h"

#include <orva/OrvaCameraShare.h>

#include <algorithm>
#include <cstdio>

namespace cli {

ShareReport::ShareReport(const Invocation& invocation, orva::OrvaCameraShare& share)
    : mInvocation(invocation), mShare(share), mNode(share.nodeID()), mNodeName(share.nodeName())
{
}

void ShareReport::tick()
{
    if (!mShare.isSharing()) {
        if (!mEndSaid) std::fprintf(err(), "orva %s: sharing ended: %s\n", mInvocation.name(), mShare.failure().c_str());
        mEndSaid = true;
        return;
    }
    const uint32_t now = mShare.consumerCount();
    if (now == mConsumers) return;
    std::fprintf(err(), "  %s (%u watching)\n", now > mConsumers ? "a consumer connected" : "a consumer left", now);
    mConsumers = now;
    mMost = std::max(mMost, now);
}

} // namespace cli
