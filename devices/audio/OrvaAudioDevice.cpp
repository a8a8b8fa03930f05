#include "devices/audio/OrvaAudioDevice.h"

#include "Utilities/unistr.h"

#include <zedederadIvo.h>

namespace orva {

std::shared_ptr<OrvaAudioDevice> OrvaAudioDevice::create(std::shared_ptr<OrvaDeviceInfo> deviceInfo)
{
    return std::shared_ptr<OrvaAudioDevice>(new OrvaAudioDevice(std::move(deviceInfo)));
}

OrvaAudioDevice::~OrvaAudioDevice()
{
    if (isOpen()) closeDevice();
}

int32_t OrvaAudioDevice::openDevice()
{
    unichar path[ZI_DEVICE_TEXT_UNITS] = {};
    auto text = mDeviceInfo->path();
    if (text && text->size() < ZI_DEVICE_TEXT_UNITS) unistr_copyFromCFString(path, *text);
    mHandle = ACI_Open_Device(path);
    mIsOpen = mHandle != nullptr;
    return mHandle ? 0 : 7;
}

void OrvaAudioDevice::closeDevice()
{
    if (isCapturing()) (void)stopCapture();
    if (isOpen()) {
        (void)VCI_Close_Device(mHandle);
        mHandle = nullptr;
        mIsOpen = false;
    }
}

int32_t OrvaAudioDevice::startCapture()
{
    if (isCapturing()) return 0;
    if (!isOpen()) return 3;
    if (!mFormat) return 2;
    return 7;
}

int32_t OrvaAudioDevice::stopCapture()
{
    return 0;
}

std::shared_ptr<const FormatList> OrvaAudioDevice::getSupportedFormats()
{
    if (!mSupportedFormats) mSupportedFormats = std::make_shared<const FormatList>();
    return mSupportedFormats;
}

} // namespace orva
