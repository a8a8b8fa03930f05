// The microphone. Made from a microphone record with OrvaAVDevice::newDevice; opening,
// formats, capture and closing are called by one host thread at a time. Audio buffers are
// delivered to the delegates on the capture library's thread.
#pragma once

#include "devices/OrvaAVDevice.h"

namespace orva {

class OrvaAudioDevice : public OrvaAVDevice {
public:
    [[nodiscard]] static std::shared_ptr<OrvaAudioDevice> create(std::shared_ptr<OrvaDeviceInfo> deviceInfo);
    ~OrvaAudioDevice() override;

    // Status: 0, or 7 when the library gives no handle.
    [[nodiscard]] int32_t openDevice() override;
    void closeDevice() override;
    // Capture arrives with the microphone's capture support; until then it answers 7.
    [[nodiscard]] int32_t startCapture() override;
    [[nodiscard]] int32_t stopCapture() override;
    std::shared_ptr<const FormatDescription> getFormat() const override { return mFormat; }
    void setFormat(std::shared_ptr<const FormatDescription> format) override { mFormat = std::move(format); }
    std::shared_ptr<const FormatList> getSupportedFormats() override;

private:
    explicit OrvaAudioDevice(std::shared_ptr<OrvaDeviceInfo> deviceInfo) : OrvaAVDevice(std::move(deviceInfo)) {}
    std::shared_ptr<const FormatList> mSupportedFormats;
    std::shared_ptr<const FormatDescription> mFormat;
};

} // namespace orva
