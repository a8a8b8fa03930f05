#include <orva/OrvaAVDevice.h>

#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaVideoDevice.h>
#include "devices/CallbackGate.h"
#include "devices/OrvaAVDevicePrivate.h"
#include "platform/foundation/SystemLog.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace orva {

OrvaAVDevice::Private::Private(std::shared_ptr<OrvaDeviceInfo> deviceInfo)
    : mDeviceInfo(std::move(deviceInfo)), mDelegates(std::make_shared<const DelegateList>()),
      mCallbackGate(new CallbackGate(this))
{
}

OrvaAVDevice::Private::~Private()
{
    retireCallbackGate(); // a subclass normally did, before its own members went
    SystemLog::log("Dealloc AVDevice %s Count:%ld", mDeviceInfo ? mDeviceInfo->nameText().c_str() : "(null)",
                   static_cast<long>(mDeviceInfo.use_count()));
    {
        std::lock_guard lock(mDelegatesLock);
        mDelegates.reset();
    }
    mDeviceInfo.reset();
}

void OrvaAVDevice::Private::retireCallbackGate()
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

void OrvaAVDevice::Private::beginHandle()
{
    if (!mSubscribed.load()) return;
    retireCallbackGate();
    mCallbackGate = new CallbackGate(this);
    mSubscribed = false;
}

void OrvaAVDevice::Private::deliverFrame(const void* data, uint32_t length, int64_t timestamp)
{
    std::lock_guard lock(mDelegatesLock);
    // The walk keeps the list it started with: a delegate that changes the list
    // replaces it, and this walk goes on over the old one.
    const std::shared_ptr<const DelegateList> list = mDelegates;
    for (const auto& delegate : *list)
        if (delegate->respondsTo(DelegateOperation::didCaptureFrame))
            delegate->didCaptureFrame(data, length, timestamp, mDeviceInfo);
}

std::shared_ptr<const OrvaAVDevice::DelegateList> OrvaAVDevice::Private::delegateList() const
{
    std::lock_guard lock(mDelegatesLock);
    return mDelegates;
}

std::shared_ptr<OrvaAVDevice> OrvaAVDevice::newDevice(const std::shared_ptr<OrvaDeviceInfo>& deviceInfo)
{
    if (!deviceInfo) return nullptr;
    if (deviceInfo->deviceType() != 0) return OrvaAudioDevice::create(deviceInfo);
    return OrvaVideoDevice::create(deviceInfo);
}

OrvaAVDevice::OrvaAVDevice(std::shared_ptr<OrvaDeviceInfo> deviceInfo)
    : mD(std::make_unique<Private>(std::move(deviceInfo)))
{
}

OrvaAVDevice::OrvaAVDevice(std::unique_ptr<Private> d) : mD(std::move(d)) {}

OrvaAVDevice::~OrvaAVDevice() = default;

void OrvaAVDevice::addDelegate(std::shared_ptr<OrvaAVDeviceDelegate> delegate)
{
    if (!delegate) return;
    std::lock_guard lock(mD->mDelegatesLock);
    auto list = std::make_shared<DelegateList>(*mD->mDelegates);
    list->push_back(std::move(delegate));
    mD->mDelegates = std::move(list);
}

void OrvaAVDevice::removeDelegate(const std::shared_ptr<OrvaAVDeviceDelegate>& delegate)
{
    if (!delegate) return;
    std::lock_guard lock(mD->mDelegatesLock);
    if (std::find(mD->mDelegates->begin(), mD->mDelegates->end(), delegate) == mD->mDelegates->end()) return;
    auto list = std::make_shared<DelegateList>(*mD->mDelegates);
    std::erase(*list, delegate);
    mD->mDelegates = std::move(list);
}

OrvaAVDevice::DelegateList OrvaAVDevice::delegates() const
{
    return *mD->delegateList();
}

std::shared_ptr<OrvaDeviceInfo> OrvaAVDevice::deviceInfo() const
{
    return mD->mDeviceInfo;
}

bool OrvaAVDevice::isCapturing() const
{
    return mD->mIsCapturing.load(std::memory_order_acquire);
}

bool OrvaAVDevice::isOpen() const
{
    return mD->mIsOpen.load(std::memory_order_acquire);
}

void OrvaAVDevice::deliverFrame(const void* data, uint32_t length, int64_t timestamp)
{
    mD->deliverFrame(data, length, timestamp);
}

} // namespace orva
