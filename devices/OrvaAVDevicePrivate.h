// The private part of every capture device: what the public class keeps out of its
// header. The camera's and the microphone's private parts extend it (OrvaAVDevice's
// d-pointer, as libcamera's Extensible classes have theirs).
//
// The delegate list is replaced whole (copy on write) under its recursive lock, and a
// delivery walks the list it took at its start, holding the lock: a delegate may add or
// remove delegates, itself included, from inside its call (the change takes effect
// from the next frame), while another thread's change waits for the walk to end.
#pragma once

#include <orva/OrvaAVDevice.h>

#include <atomic>
#include <mutex>

namespace orva {

class CallbackGate;

class ORVA_NO_EXPORT OrvaAVDevice::Private {
public:
    explicit Private(std::shared_ptr<OrvaDeviceInfo> deviceInfo);
    virtual ~Private();
    Private(const Private&) = delete;
    Private& operator=(const Private&) = delete;

    // The private part of a device (for the component's callbacks and tests).
    static Private& of(OrvaAVDevice& device) { return *device.mD; }

    // Hands a frame to the delegates that take frames, in list order (the capture
    // library's thread; no allocation, no copy).
    void deliverFrame(const void* data, uint32_t length, int64_t timestamp);
    // The list as it is now, under the lock for as long as the caller keeps it.
    std::shared_ptr<const DelegateList> delegateList() const;

    // Called by each subclass's destructor, after closing: no callback reaches the
    // device afterwards. The gate is freed when the library confirmed every
    // withdrawal, otherwise kept for the process's life.
    void retireCallbackGate();
    // Called by each subclass's open: a subscription an earlier handle may still hold
    // keeps calling the old gate, which is retired; the new handle gets a new one.
    void beginHandle();

    std::shared_ptr<OrvaDeviceInfo> mDeviceInfo;
    mutable std::recursive_mutex mDelegatesLock; // held by add, remove and each delivery
    std::shared_ptr<const DelegateList> mDelegates; // replaced whole, under the lock
    std::atomic<bool> mIsCapturing{false};
    std::atomic<bool> mIsOpen{false};
    std::atomic<void*> mHandle{nullptr}; // the capture library's handle; motion tasks read it on their queue
    // What the library's callbacks carry as their context (never the device itself,
    // which may go while the library still holds a subscription).
    CallbackGate* mCallbackGate;
    // Whether a subscription may be in place in the library: set on subscribing,
    // cleared only when the library confirms the withdrawal.
    std::atomic<bool> mSubscribed{false};
};

} // namespace orva
