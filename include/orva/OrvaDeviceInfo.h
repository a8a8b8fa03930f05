/// @file
/// The record of one attached camera or microphone, as the capture library reported
/// it. The path is the device's identity. name and path may be read on any thread
/// while another replaces them (each read gets the old or the new text whole); the
/// numeric fields are plain and written by one thread at a time.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/SharedSlot.h>

#include <cstdint>
#include <memory>
#include <string>

namespace orva {

/// A record of one attached camera or microphone, as the capture library reported it.
/// Two records are the same device when their paths are equal.
class ORVA_EXPORT OrvaDeviceInfo {
public:
    /// No strings and zeros.
    OrvaDeviceInfo() = default;
    /// Clears both strings and zeros the numbers.
    ~OrvaDeviceInfo();
    OrvaDeviceInfo(const OrvaDeviceInfo&) = delete;
    OrvaDeviceInfo& operator=(const OrvaDeviceInfo&) = delete;

    /// @name Name and path
    /// Each is read and replaced whole (another thread sees the old string or the new
    /// one); null until set.
    ///@{
    std::shared_ptr<const std::string> name() const { return mName.load(); } ///< the display name
    void setName(std::shared_ptr<const std::string> name) { mName.store(std::move(name)); } ///< keeps the string
    void setName(const std::string& name) { setName(std::make_shared<const std::string>(name)); } ///< copies the text
    std::shared_ptr<const std::string> path() const { return mPath.load(); } ///< the library's path: identity, and what opens it
    void setPath(std::shared_ptr<const std::string> path) { mPath.store(std::move(path)); } ///< keeps the string
    void setPath(const std::string& path) { setPath(std::make_shared<const std::string>(path)); } ///< copies the text
    ///@}
    /// The name, or "" when there is none; for printing.
    std::string nameText() const;

    /// @name Numbers
    ///@{
    uint16_t productID() const { return mProductID; }       ///< the USB product ID
    void setProductID(uint16_t v) { mProductID = v; }       ///< sets it
    uint16_t vendorID() const { return mVendorID; }         ///< the USB vendor ID
    void setVendorID(uint16_t v) { mVendorID = v; }         ///< sets it
    int32_t deviceType() const { return mDeviceType; }      ///< 0 camera, 1 microphone
    void setDeviceType(int32_t v) { mDeviceType = v; }      ///< sets it
    uint16_t revisionID() const { return mRevisionID; }     ///< the device's revision (cameras; 0 for microphones)
    void setRevisionID(uint16_t v) { mRevisionID = v; }     ///< sets it
    ///@}

    /// Equal when both paths are present and hold the same UTF-16 units; names, ids
    /// and types play no part. A record without a path equals no record.
    [[nodiscard]] bool isEqualToDevice(const OrvaDeviceInfo& other) const;

private:
    SharedSlot<const std::string> mName;
    SharedSlot<const std::string> mPath;
    uint16_t mProductID = 0;
    uint16_t mVendorID = 0;
    int32_t mDeviceType = 0;
    uint16_t mRevisionID = 0;
};

} // namespace orva
