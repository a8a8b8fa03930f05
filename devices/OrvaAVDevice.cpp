#include <orva/OrvaAVDevice.h>

#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaVideoDevice.h>
#include "devices/CallbackGate.h"
#include "platform/foundation/SystemLog.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace orva {

std::shared_ptr<OrvaAVDevice> OrvaAVDevice::newDevice(const std::shared_ptr<OrvaDeviceInfo>& deviceInfo)
{
    if (!deviceInfo) return nullptr;
    if (deviceInfo->deviceType() != 0) return OrvaAudioDevice::create(deviceInfo);
    return OrvaVideoDevice::create(deviceInfo);
}

OrvaAVDevice::OrvaAVDevice(std::shared_ptr<OrvaDeviceInfo> deviceInfo)
    : mDeviceInfo(std::move(deviceInfo)), mCallbackGate(new CallbackGate(this))
{
}

void OrvaAVDevice::retireCallbackGate()
{
    if (!mCallbackGate) return;
    const bool leftByAll = mCallbackGate->close();
    if (leftByAll && !mSubscribed.load()) {
        delete mCallbackGate;
    } else {
        // The library may still call through it: it stays, closed, for the process's
        // life (a few bytes, once per device whose withdrawal failed).
        static std::mutex lock;
        static std::vector<CallbackGate*>* kept = new std::vector<CallbackGate*>;
        std::lock_guard guard(lock);
        kept->push_back(mCallbackGate);
        SystemLog::log("The capture library did not confirm it stopped calling %s: its callbacks now reach nothing",
                       mDeviceInfo ? mDeviceInfo->nameText().c_str() : "a device");
    }
    mCallbackGate = nullptr;
}

void OrvaAVDevice::beginHandle()
{
    mStopUnconfirmed = false;
    if (!mSubscribed.load()) return;
    retireCallbackGate();
    mCallbackGate = new CallbackGate(this);
    mSubscribed = false;
}

OrvaAVDevice::~OrvaAVDevice()
{
    retireCallbackGate(); // a subclass normally did, before its own members went
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
