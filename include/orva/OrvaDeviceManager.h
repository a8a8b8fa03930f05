/// @file
/// The process-wide device manager: starts and stops the capture library, lists the
/// attached cameras and microphones as device records, and announces each arrival and
/// removal through the default notification centre.
///
/// Threads: getSharedInstance and destroy are called by the host, the first and the
/// last time from one thread. The lists may be read from any thread; plug-and-play
/// updates run on the capture library's thread, replace a list whole (a reader gets
/// the old list or the new one, never a mix) and post their notification
/// synchronously there, after the kept list has been replaced.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/OrvaDeviceInfo.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orva {

/// Notification names; the user information holds one entry, keyed by the name,
/// whose value is the std::shared_ptr<OrvaDeviceInfo> of the device.
ORVA_EXPORT extern const char* const KPXDeviceAdded; ///< "kKPXDeviceAdded"
ORVA_EXPORT extern const char* const KPXDeviceRemoved; ///< "kKPXDeviceRemoved"

/// Lists the cameras and microphones and announces arrivals and removals.
class ORVA_EXPORT OrvaDeviceManager {
public:
    /// A list of device records.
    using DeviceList = std::vector<std::shared_ptr<OrvaDeviceInfo>>;

    /// The manager, made on first call and kept until destroy().
    static std::shared_ptr<OrvaDeviceManager> getSharedInstance();
    /// Drops the kept manager; it is destroyed when nothing else holds it.
    static void destroy();

    ~OrvaDeviceManager();
    OrvaDeviceManager(const OrvaDeviceManager&) = delete;
    OrvaDeviceManager& operator=(const OrvaDeviceManager&) = delete;

    ///@{
    /// The kept lists, enumerated and kept on first call (an empty list is kept too).
    std::shared_ptr<const DeviceList> getVideoDeviceList();
    std::shared_ptr<const DeviceList> getAudioDeviceList();
    ///@}

    ///@{
    /// Re-enumerate, keep the new list, then announce the first difference.
    void updateVideoDeviceList();
    void updateAudioDevicelist();
    ///@}

    ///@{
    /// Fresh enumerations; empty when the library does not answer 8 and then 0.
    std::shared_ptr<const DeviceList> enumarateVideoDevices();
    std::shared_ptr<const DeviceList> enumarateAudioDevices();
    ///@}

    /// The first record of a whose path is in no record of newList; null when none.
    static std::shared_ptr<OrvaDeviceInfo> getOddDevice(const DeviceList* a, const DeviceList* newList);

    /// The host's DeviceNames table entry for the product id, else the fallback.
    std::string getDeviceFriendlyName(uint64_t productID, const std::string& withFallbackName);

private:
    OrvaDeviceManager();
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace orva
