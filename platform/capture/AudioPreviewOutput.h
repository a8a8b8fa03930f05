// A session output that would play the captured sound at its volume; the meter uses
// it at volume 0 only for its connection's channel levels, so nothing is played.
// connections() may be called from any thread and hands back a snapshot without
// allocating; the session replaces the list whole when its inputs change.
#pragma once

#include <orva/SharedSlot.h>
#include "platform/capture/CaptureConnection.h"

#include <atomic>
#include <memory>
#include <vector>

namespace orva {

class AudioPreviewOutput {
public:
    using ConnectionList = std::vector<std::shared_ptr<CaptureConnection>>;

    static std::shared_ptr<AudioPreviewOutput> create() { return std::shared_ptr<AudioPreviewOutput>(new AudioPreviewOutput); }

    float volume() const { return mVolume.load(); }
    void setVolume(float volume) { mVolume.store(volume); }

    // Empty (never null) until the output's session has an input.
    std::shared_ptr<const ConnectionList> connections() const;

    // Called by the session.
    void setConnections(std::shared_ptr<const ConnectionList> connections) { mConnections.store(std::move(connections)); }

private:
    AudioPreviewOutput() = default;
    std::atomic<float> mVolume{1.0f};
    SharedSlot<const ConnectionList> mConnections;
};

} // namespace orva
