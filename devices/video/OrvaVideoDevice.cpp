#include "devices/video/OrvaVideoDevice.h"

#include "Utilities/unistr.h"

#include <zedederadIvo.h>

namespace orva {

std::shared_ptr<OrvaVideoDevice> OrvaVideoDevice::create(std::shared_ptr<OrvaDeviceInfo> deviceInfo)
{
    return std::shared_ptr<OrvaVideoDevice>(new OrvaVideoDevice(std::move(deviceInfo)));
}

OrvaVideoDevice::~OrvaVideoDevice()
{
    if (isOpen()) closeDevice();
}

int32_t OrvaVideoDevice::openDevice()
{
    unichar path[ZI_DEVICE_TEXT_UNITS] = {};
    auto text = mDeviceInfo->path();
    if (text && text->size() < ZI_DEVICE_TEXT_UNITS) unistr_copyFromCFString(path, *text);
    mHandle = VCI_Open_Device(path);
    mIsOpen = mHandle != nullptr;
    return mHandle ? 0 : 7;
}

void OrvaVideoDevice::closeDevice()
{
    if (isCapturing()) (void)stopCapture();
    if (isOpen()) {
        (void)VCI_Close_Device(mHandle);
        mHandle = nullptr;
        mIsOpen = false;
    }
}

int32_t OrvaVideoDevice::startCapture()
{
    if (isCapturing()) return 0;
    if (!isOpen()) return 3;
    if (!mFormat) return 2;
    return 7;
}

int32_t OrvaVideoDevice::stopCapture()
{
    return 0;
}

std::shared_ptr<const FormatList> OrvaVideoDevice::getSupportedFormats()
{
    if (!mSupportedFormats) mSupportedFormats = std::make_shared<const FormatList>();
    return mSupportedFormats;
}

} // namespace orva
