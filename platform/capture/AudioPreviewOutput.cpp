#include "platform/capture/AudioPreviewOutput.h"

namespace orva {

std::shared_ptr<const AudioPreviewOutput::ConnectionList> AudioPreviewOutput::connections() const
{
    static const auto empty = std::make_shared<const ConnectionList>();
    auto list = mConnections.load();
    return list ? list : empty;
}

} // namespace orva
