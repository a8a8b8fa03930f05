#include <orva/OrvaAVDevice.h>

#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaVideoDevice.h>
#include "platform/foundation/SystemLog.h"

#include <algorithm>

namespace orva {

std::shared_ptr<OrvaAVDevice> OrvaAVDevice::newDevice(const std::shared_ptr<OrvaDeviceInfo>& deviceInfo)
{
    if (!deviceInfo) return nullptr;
    if (deviceInfo->deviceType() != 0) return OrvaAudioDevice::create(deviceInfo);
    return OrvaVideoDevice::create(deviceInfo);
}

OrvaAVDevice::OrvaAVDevice(std::shared_ptr<OrvaDeviceInfo> deviceInfo) : mDeviceInfo(std::move(deviceInfo)) {}

OrvaAVDevice::~OrvaAVDevice()
{
    SystemLog::log("Dealloc AVDevice %s Count:%ld", mDeviceInfo ? mDeviceInfo->nameText().c_str() : "(null)",
                   static_cast<long>(mDeviceInfo.use_count()));
    {
        std::lock_guard lock(mDelegatesLock);
        mDelegates.clear();
    }
    mDeviceInfo.reset();
}

void OrvaAVDevice::addDelegate(std::shared_ptr<OrvaAVDeviceDelegate> delegate)
{
    if (!delegate) return;
    std::lock_guard lock(mDelegatesLock);
    mDelegates.push_back(std::move(delegate));
}

void OrvaAVDevice::removeDelegate(const std::shared_ptr<OrvaAVDeviceDelegate>& delegate)
{
    if (!delegate) return;
    std::lock_guard lock(mDelegatesLock);
    std::erase(mDelegates, delegate);
}

void OrvaAVDevice::deliverFrame(const void* data, uint32_t length, int64_t timestamp)
{
    std::lock_guard lock(mDelegatesLock);
    for (const auto& delegate : mDelegates)
        if (delegate->respondsTo(DelegateOperation::didCaptureFrame))
            delegate->didCaptureFrame(data, length, timestamp, mDeviceInfo);
}

} // namespace orva
