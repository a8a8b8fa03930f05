/// @file
/// The base class of every capture device: the device record, the library handle,
/// the open and capturing flags and the ordered delegate list.
///
/// Threads: addDelegate/removeDelegate may be called from any thread; they take the
/// delegate list's recursive lock, which a delivery holds for its whole walk on the
/// capture library's thread, so they wait while a frame is being delivered. The
/// other operations are called by one host thread at a time.
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

class CallbackGate;

/// The base of every capture device: OrvaVideoDevice (a camera) and OrvaAudioDevice
/// (a microphone). Hosts make devices with newDevice() from a device record.
class ORVA_EXPORT OrvaAVDevice : public std::enable_shared_from_this<OrvaAVDevice> {
public:
    /// The delegates of a device, in the order they were added.
    using DelegateList = std::vector<std::shared_ptr<OrvaAVDeviceDelegate>>;

    /// A new device for the record, owned by the caller: a microphone device when the
    /// record's deviceType is not 0, else a camera device. Null for a null record.
    [[nodiscard]] static std::shared_ptr<OrvaAVDevice> newDevice(const std::shared_ptr<OrvaDeviceInfo>& deviceInfo);

    /// Closes the device if it is open.
    virtual ~OrvaAVDevice();
    OrvaAVDevice(const OrvaAVDevice&) = delete;
    OrvaAVDevice& operator=(const OrvaAVDevice&) = delete;

    /// @name Operations every device answers
    /// Status 0 (kOrvaOK) is success; the other codes are the subclass's (OrvaStatus.h).
    ///@{
    [[nodiscard]] virtual int32_t openDevice() = 0;  ///< opens the device through the capture library
    virtual void closeDevice() = 0;                  ///< stops capture and closes the device
    [[nodiscard]] virtual int32_t startCapture() = 0; ///< starts delivering to the delegates
    [[nodiscard]] virtual int32_t stopCapture() = 0;  ///< stops delivering
    virtual std::shared_ptr<const FormatDescription> getFormat() const = 0;   ///< the chosen format, or null
    virtual void setFormat(std::shared_ptr<const FormatDescription> format) = 0; ///< chooses the format
    virtual std::shared_ptr<const FormatList> getSupportedFormats() = 0;      ///< the formats the device offers
    ///@}

    /// Adds a delegate at the end of the list (a null delegate is ignored; adding one
    /// twice lists it twice). Waits while a frame is being delivered.
    void addDelegate(std::shared_ptr<OrvaAVDeviceDelegate> delegate);
    /// Removes every entry of the delegate (null is ignored). Waits while a frame is
    /// being delivered, so once it returns the delegate is not called again.
    void removeDelegate(const std::shared_ptr<OrvaAVDeviceDelegate>& delegate);

    /// The live list itself; read it only while no other thread adds or removes.
    const DelegateList& delegates() const { return mDelegates; }
    /// The record the device was made from.
    const std::shared_ptr<OrvaDeviceInfo>& deviceInfo() const { return mDeviceInfo; }
    /// Whether capture runs (any thread).
    bool isCapturing() const { return mIsCapturing.load(std::memory_order_acquire); }
    /// Whether the device is open (any thread).
    bool isOpen() const { return mIsOpen.load(std::memory_order_acquire); }

protected:
    /// initWithDeviceInfo: both flags clear, no handle, an empty delegate list.
    explicit OrvaAVDevice(std::shared_ptr<OrvaDeviceInfo> deviceInfo);

    /// Hands one frame or buffer to every delegate that answers the frame operation,
    /// in list order, holding the list's lock for the whole walk. Called by subclasses
    /// on the capture library's thread; copies and allocates nothing.
    void deliverFrame(const void* data, uint32_t length, int64_t timestamp);

    std::shared_ptr<OrvaDeviceInfo> mDeviceInfo; ///< the record the device was made from
    DelegateList mDelegates;                     ///< the delegates, under mDelegatesLock
    mutable std::recursive_mutex mDelegatesLock; ///< held by add, remove and each delivery
    std::atomic<bool> mIsCapturing{false};       ///< set by the subclass's start and stop
    std::atomic<bool> mIsOpen{false};            ///< set by the subclass's open and close
    std::atomic<void*> mHandle{nullptr}; ///< the capture library's handle; read by motion tasks on their own queue

    /// What the library's frame callbacks carry as their context (never the device
    /// itself, which may go while the library still holds a subscription).
    CallbackGate* mCallbackGate;
    /// Whether a frame subscription may be in place in the library: set on subscribing,
    /// cleared only when the library confirms the withdrawal.
    std::atomic<bool> mSubscribed{false};
    /// Whether the library may still be capturing after a stop it did not confirm: the
    /// next start stops it first.
    std::atomic<bool> mStopUnconfirmed{false};
    /// Called by each subclass's destructor, after closing: no callback reaches the
    /// device afterwards. The gate is freed when the library confirmed every
    /// withdrawal, otherwise kept for the process's life.
    void retireCallbackGate();
    /// Called by each subclass's open: a subscription an earlier handle may still hold
    /// keeps calling the old gate, which is retired; the new handle gets a new one.
    void beginHandle();
};

} // namespace orva
