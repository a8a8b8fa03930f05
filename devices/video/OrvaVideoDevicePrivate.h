// The camera's private part: its format, frame interval, substream and motion queue,
// and the property reads and writes every control is made of.
#pragma once

#include "devices/OrvaAVDevicePrivate.h"

#include <orva/OrvaVideoDevice.h>
#include <orva/SharedSlot.h>

#include <zedederadIvo.h>

namespace orva {

class DispatchQueue;

class ORVA_NO_EXPORT OrvaVideoDevice::Private : public OrvaAVDevice::Private {
public:
    using OrvaAVDevice::Private::Private;

    // How a field of a property's block is read.
    enum class Kind { S32, S16, U16, U32, U8, Bool };
    int32_t getProperty(const PropertySet& set, uint32_t id, uint32_t query, void* block, uint32_t width);
    int32_t setProperty(const PropertySet& set, uint32_t id, const void* block, uint32_t width);
    // A read of `width` bytes, the field at `offset` as a number of `kind`; null on failure.
    std::optional<Number> readNumber(const PropertySet& set, uint32_t id, uint32_t query, uint32_t width, Kind kind,
                                     uint32_t offset = 0);
    // The argument's low `width` bytes, written as they are.
    void writeInteger(const PropertySet& set, uint32_t id, uint32_t width, const std::optional<Number>& value);
    void writeZoom(uint32_t id, const std::optional<Number>& value);
    void writeAbsolutePanTilt(bool pan, const std::optional<Number>& value);
    void writeRelativePanTilt(bool pan, const std::optional<Number>& value);
    // A vendor information record, from the alternate set when the first lacks it.
    int32_t readInfoRecord(uint32_t id, void* block, uint32_t width);
    // Withdraws the frame subscription if one may be in place; ZI_OK once the library confirmed.
    int32_t withdrawFrames();

    SharedSlot<const Number> mFrameinterval;
    std::shared_ptr<const std::vector<Number>> mSupportedFrameIntervals; // nothing fills it
    std::shared_ptr<const FormatList> mSupportedFormats;
    uint32_t mSubstream = 0;
    std::shared_ptr<const FormatDescription> mFormat;
    std::shared_ptr<DispatchQueue> mMotionQueue; // the relative moves, one after another
    // Capturing only for a share's consumers: the last one leaving stops it. A start by
    // the host while it runs (a recording's included) makes the capture the host's.
    std::atomic<bool> mRunForShare{false};
};

inline OrvaVideoDevice::Private& OrvaVideoDevice::d() const
{
    return _d<Private>();
}

// The library calls this on its thread for every captured frame. The event's context
// is the camera's callback gate (what startCapture subscribes with), never the camera
// itself, so a frame the library hands on after the camera is gone reaches nothing.
void VideoFrameCompletionCallback(void* reserved, _VCI_EVENT_INFO* info);

} // namespace orva
