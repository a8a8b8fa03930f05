// The microphone's private part: its formats and the level meter's session, output,
// input and timer.
#pragma once

#include "devices/OrvaAVDevicePrivate.h"

#include <orva/OrvaAudioDevice.h>

#include <zedederadIvo.h>

namespace orva {

class AudioPreviewOutput;
class CaptureDeviceInput;
class CaptureSession;

class ORVA_NO_EXPORT OrvaAudioDevice::Private : public OrvaAVDevice::Private {
public:
    using OrvaAVDevice::Private::Private;

    // Withdraws the buffer subscription if one may be in place; ZI_OK once the library confirmed.
    int32_t withdrawBuffers();
    // Whether the meter runs: its timer is scheduled and its session runs.
    bool meterRunning() const;

    std::shared_ptr<const FormatList> mSupportedFormats;
    std::shared_ptr<const FormatDescription> mFormat;
    std::weak_ptr<Timer> mMicLevelTimer; // the run loop holds the timer; the timer holds the device
    std::shared_ptr<CaptureSession> mSession;
    std::shared_ptr<AudioPreviewOutput> mAudioPreviewOutput;
    std::shared_ptr<CaptureDeviceInput> mAudioDeviceInput; // the session holds it too
};

inline OrvaAudioDevice::Private& OrvaAudioDevice::d() const
{
    return _d<Private>();
}

// The library calls this on its thread for every captured buffer. The event's context
// is the microphone's callback gate (what startCapture subscribes with), never the
// microphone itself, so a buffer handed on after it is gone reaches nothing.
void AudioFrameCompletionCallback(void* reserved, _ACI_EVENT_INFO* info);

} // namespace orva
