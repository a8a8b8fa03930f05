// What `share` and `record --share` say while a camera is shared: a line on standard
// error when a consumer connects or leaves, and once when sharing ends. tick() on the
// main thread, from the command's run loop.
#pragma once

#include "Cli.h"

#include <cstdint>
#include <string>

namespace orva {
class OrvaCameraShare;
}

namespace cli {

class ShareReport {
public:
    ShareReport(const Invocation& invocation, orva::OrvaCameraShare& share);
    void tick();
    uint32_t mostConsumers() const { return mMost; }
    uint32_t node() const { return mNode; }
    const std::string& nodeName() const { return mNodeName; }

private:
    const Invocation& mInvocation;
    orva::OrvaCameraShare& mShare;
    uint32_t mConsumers = 0, mMost = 0, mNode = 0;
    std::string mNodeName;
    bool mEndSaid = false;
};

} // namespace cli
