// A platform capture session: inputs feeding outputs while it runs. Any thread may
// call any operation (the meter configures it on the host's main thread and stops it
// on a global queue); each takes the session's lock. Starting opens the platform's
// audio stream of every input; stopping waits until no buffer is being measured.
#pragma once

#include "platform/capture/AudioPreviewOutput.h"
#include "platform/capture/CaptureDeviceInput.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orva {

class CaptureSession {
public:
    static std::shared_ptr<CaptureSession> create();
    ~CaptureSession();
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    bool isRunning() const;
    void startRunning();
    void stopRunning();

    // Changes between the two take effect together at commitConfiguration.
    void beginConfiguration();
    void commitConfiguration();

    // Null inputs and outputs are ignored; adding one twice adds it once.
    void addInput(const std::shared_ptr<CaptureDeviceInput>& input);
    void removeInput(const std::shared_ptr<CaptureDeviceInput>& input);
    void addOutput(const std::shared_ptr<AudioPreviewOutput>& output);
    std::vector<std::shared_ptr<CaptureDeviceInput>> inputs() const;
    // The inputs as the platform prints a list: "(\n    \"<…>\"\n)", "()" when empty.
    std::string inputsDescription() const;

private:
    CaptureSession();
    struct Feed;
    void applyLocked();
    void closeFeedsLocked();

    mutable std::mutex mMutex;
    std::vector<std::shared_ptr<CaptureDeviceInput>> mInputs;
    std::vector<std::shared_ptr<AudioPreviewOutput>> mOutputs;
    std::vector<std::unique_ptr<Feed>> mFeeds;
    bool mRunning = false;
    int mConfiguring = 0;
    bool mConnectionsStale = false;
};

} // namespace orva
