#include "platform/capture/CaptureSession.h"

#include "platform/capture/AudioCaptureBackend.h"

#include <algorithm>

namespace orva {

// One input's platform stream and the connections its buffers are measured into.
struct CaptureSession::Feed {
    void* tap = nullptr;
    std::vector<std::shared_ptr<CaptureConnection>> connections;

    static void received(void* context, const int16_t* samples, uint32_t frames, uint32_t channels)
    {
        for (const auto& connection : static_cast<Feed*>(context)->connections) {
            if (samples)
                connection->measure(samples, frames, channels);
            else
                connection->silence(); // the device is gone: its levels fall to the floor
        }
    }
};

std::shared_ptr<CaptureSession> CaptureSession::create()
{
    return std::shared_ptr<CaptureSession>(new CaptureSession);
}

CaptureSession::CaptureSession() = default;

CaptureSession::~CaptureSession()
{
    std::lock_guard lock(mMutex);
    closeFeedsLocked();
}

bool CaptureSession::isRunning() const
{
    std::lock_guard lock(mMutex);
    return mRunning;
}

void CaptureSession::startRunning()
{
    std::lock_guard lock(mMutex);
    if (mRunning) return;
    mRunning = true;
    applyLocked();
}

void CaptureSession::stopRunning()
{
    std::lock_guard lock(mMutex);
    if (!mRunning) return;
    mRunning = false;
    applyLocked();
}

void CaptureSession::beginConfiguration()
{
    std::lock_guard lock(mMutex);
    ++mConfiguring;
}

void CaptureSession::commitConfiguration()
{
    std::lock_guard lock(mMutex);
    if (mConfiguring > 0) --mConfiguring;
    applyLocked();
}

void CaptureSession::addInput(const std::shared_ptr<CaptureDeviceInput>& input)
{
    std::lock_guard lock(mMutex);
    if (!input || std::find(mInputs.begin(), mInputs.end(), input) != mInputs.end()) return;
    mInputs.push_back(input);
    mConnectionsStale = true;
    applyLocked();
}

void CaptureSession::removeInput(const std::shared_ptr<CaptureDeviceInput>& input)
{
    std::lock_guard lock(mMutex);
    const auto before = mInputs.size();
    std::erase(mInputs, input);
    if (mInputs.size() == before) return;
    mConnectionsStale = true;
    applyLocked();
}

void CaptureSession::addOutput(const std::shared_ptr<AudioPreviewOutput>& output)
{
    std::lock_guard lock(mMutex);
    if (!output || std::find(mOutputs.begin(), mOutputs.end(), output) != mOutputs.end()) return;
    mOutputs.push_back(output);
    mConnectionsStale = true;
    applyLocked();
}

std::vector<std::shared_ptr<CaptureDeviceInput>> CaptureSession::inputs() const
{
    std::lock_guard lock(mMutex);
    return mInputs;
}

std::string CaptureSession::inputsDescription() const
{
    const auto list = inputs();
    if (list.empty()) return "()";
    std::string text = "(\n";
    for (size_t i = 0; i < list.size(); ++i)
        text += "    \"" + list[i]->description() + "\"" + (i + 1 < list.size() ? ",\n" : "\n");
    return text + ")";
}

void CaptureSession::closeFeedsLocked()
{
    for (auto& feed : mFeeds) AudioCaptureBackend::current().closeTap(feed->tap); // waits for a buffer being measured
    mFeeds.clear();
}

// Brings connections and platform streams in line with the inputs, outputs and
// running state, unless a configuration is open.
void CaptureSession::applyLocked()
{
    if (mConfiguring > 0) return;
    closeFeedsLocked();
    if (mConnectionsStale) {
        // Every output gets one connection per input, with one channel per input channel.
        for (const auto& output : mOutputs) {
            auto list = std::make_shared<AudioPreviewOutput::ConnectionList>();
            for (const auto& input : mInputs)
                list->push_back(std::make_shared<CaptureConnection>(input, input->device()->channelCount()));
            output->setConnections(std::move(list));
        }
        mConnectionsStale = false;
    }
    if (!mRunning) return;
    for (const auto& input : mInputs) {
        auto feed = std::make_unique<Feed>();
        for (const auto& output : mOutputs)
            for (const auto& connection : *output->connections())
                if (connection->input() == input) feed->connections.push_back(connection);
        feed->tap = AudioCaptureBackend::current().openTap(input->device()->busPath(), &Feed::received, feed.get());
        if (feed->tap) mFeeds.push_back(std::move(feed)); // a device that is gone measures nothing
    }
}

} // namespace orva
