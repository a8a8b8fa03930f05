// The base class of every capture device: the device record, the library handle,
// the open and capturing flags and the ordered delegate list.
//
// Threads: addDelegate/removeDelegate may be called from any thread; they take the
// delegate list's recursive lock, which a delivery holds for its whole walk on the
// capture library's thread, so they wait while a frame is being delivered. The
// other operations are called by one host thread at a time.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/OrvaAVDeviceDelegate.h>
#include <orva/OrvaDeviceInfo.h>
#include <orva/FormatDescription.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace orva {

class ORVA_EXPORT OrvaAVDevice : public std::enable_shared_from_this<OrvaAVDevice> {
public:
    using DelegateList = std::vector<std::shared_ptr<OrvaAVDeviceDelegate>>;

    // A new device for the record, owned by the caller: a microphone device when the
    // record's deviceType is not 0, else a camera device. Null for a null record.
    [[nodiscard]] static std::shared_ptr<OrvaAVDevice> newDevice(const std::shared_ptr<OrvaDeviceInfo>& deviceInfo);

    virtual ~OrvaAVDevice();
    OrvaAVDevice(const OrvaAVDevice&) = delete;
    OrvaAVDevice& operator=(const OrvaAVDevice&) = delete;

    // Operations every device answers; status 0 is success, the other codes are the
    // subclass's.
    [[nodiscard]] virtual int32_t openDevice() = 0;
    virtual void closeDevice() = 0;
    [[nodiscard]] virtual int32_t startCapture() = 0;
    [[nodiscard]] virtual int32_t stopCapture() = 0;
    virtual std::shared_ptr<const FormatDescription> getFormat() const = 0;
    virtual void setFormat(std::shared_ptr<const FormatDescription> format) = 0;
    virtual std::shared_ptr<const FormatList> getSupportedFormats() = 0;

    // A null delegate is ignored. Adding twice lists the delegate twice; removing
    // removes every entry of it.
    void addDelegate(std::shared_ptr<OrvaAVDeviceDelegate> delegate);
    void removeDelegate(const std::shared_ptr<OrvaAVDeviceDelegate>& delegate);

    // The live list itself; read it only while no other thread adds or removes.
    const DelegateList& delegates() const { return mDelegates; }
    const std::shared_ptr<OrvaDeviceInfo>& deviceInfo() const { return mDeviceInfo; }
    bool isCapturing() const { return mIsCapturing.load(std::memory_order_acquire); }
    bool isOpen() const { return mIsOpen.load(std::memory_order_acquire); }

protected:
    // initWithDeviceInfo: both flags clear, no handle, an empty delegate list.
    explicit OrvaAVDevice(std::shared_ptr<OrvaDeviceInfo> deviceInfo);

    // Hands one frame or buffer to every delegate that answers the frame operation,
    // in list order, holding the list's lock for the whole walk. Called by subclasses
    // on the capture library's thread; copies and allocates nothing.
    void deliverFrame(const void* data, uint32_t length, int64_t timestamp);

    std::shared_ptr<OrvaDeviceInfo> mDeviceInfo;
    DelegateList mDelegates;
    mutable std::recursive_mutex mDelegatesLock;
    std::atomic<bool> mIsCapturing{false};
    std::atomic<bool> mIsOpen{false};
    std::atomic<void*> mHandle{nullptr}; // read by motion tasks on their own queue
};

} // namespace orva
