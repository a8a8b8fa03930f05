/// @file
/// The base class of every capture device: the device record, the open and capturing
/// flags and the ordered delegate list. Its state is private (the class's size and
/// layout are not part of the ABI).
///
/// Threads: addDelegate/removeDelegate may be called from any thread, a delegate's
/// own call included; they take the delegate list's lock, which a delivery holds for
/// its whole walk on the capture library's thread, so from another thread they wait
/// while a frame is being delivered. The other operations are called by one host
/// thread at a time.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/OrvaAVDeviceDelegate.h>
#include <orva/OrvaDeviceInfo.h>
#include <orva/FormatDescription.h>

#include <memory>
#include <vector>

namespace orva {

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
    /// twice lists it twice). From another thread it waits while a frame is being
    /// delivered; from a delegate call it takes effect from the next frame.
    void addDelegate(std::shared_ptr<OrvaAVDeviceDelegate> delegate);
    /// Removes every entry of the delegate (null is ignored). From another thread it
    /// waits while a frame is being delivered, so once it returns the delegate is not
    /// called again; a delegate may remove itself (or another) from inside its call,
    /// which takes effect from the next frame.
    void removeDelegate(const std::shared_ptr<OrvaAVDeviceDelegate>& delegate);

    /// The delegates as they are now (a snapshot; any thread).
    DelegateList delegates() const;
    /// The record the device was made from.
    std::shared_ptr<OrvaDeviceInfo> deviceInfo() const;
    /// Whether capture runs (any thread).
    bool isCapturing() const;
    /// Whether the device is open (any thread).
    bool isOpen() const;

    class Private;

protected:
    /// A device of the record: both flags clear, no handle, no delegates.
    explicit OrvaAVDevice(std::shared_ptr<OrvaDeviceInfo> deviceInfo);
    /// For the component's devices, which extend the private part.
    ORVA_NO_EXPORT explicit OrvaAVDevice(std::unique_ptr<Private> d);

    /// Hands one frame or buffer to every delegate that answers the frame operation,
    /// in list order, holding the list's lock for the whole walk. Called by subclasses
    /// on the capture library's thread; copies and allocates nothing.
    void deliverFrame(const void* data, uint32_t length, int64_t timestamp);

    /// The private part, as the subclass made it.
    template <typename T>
    T& _d() const
    {
        return static_cast<T&>(*mD);
    }

private:
    std::unique_ptr<Private> mD;
};

} // namespace orva
