/// @file
/// The interface through which devices hand captured data and microphone levels to
/// their users. didCaptureFrame runs on the capture library's thread, with the
/// device's delegate-list lock held: the bytes are valid only during the call, and a
/// delegate must not add or remove delegates of that device from inside it. A slow
/// delegate delays the next frame; hand long work to another thread.
#pragma once

#include <orva/OrvaExport.h>

#include <cstdint>
#include <memory>

namespace orva {

class OrvaDeviceInfo;

/// The operations of the delegate interface, for respondsTo().
enum class DelegateOperation {
    didCaptureFrame,        // required
    didMicLevelEventOccured // optional
};

/// What a host (or a record session) implements to receive a device's frames,
/// audio buffers and microphone levels.
class ORVA_EXPORT OrvaAVDeviceDelegate {
public:
    virtual ~OrvaAVDeviceDelegate() = default;

    /// Whether the delegate answers an operation. Default: the frame operation yes,
    /// the level operation no.
    virtual bool respondsTo(DelegateOperation operation) const
    {
        return operation == DelegateOperation::didCaptureFrame;
    }

    /// One video frame or audio buffer; withDevice is the producing device's record
    /// (its deviceType tells a camera from a microphone); timestamp in microseconds.
    virtual void didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                                 const std::shared_ptr<OrvaDeviceInfo>& withDevice) = 0;

    /// A microphone level reading in dB full scale; delivered on the main thread.
    virtual void didMicLevelEventOccured(float level) { (void)level; }
};

} // namespace orva
