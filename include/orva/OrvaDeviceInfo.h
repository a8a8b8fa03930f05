// The record of one attached camera or microphone, as the capture library reported
// it. The path is the device's identity. name and path may be read on any thread
// while another replaces them (each read gets the old or the new text whole); the
// numeric fields are plain and written by one thread at a time.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/SharedSlot.h>

#include <cstdint>
#include <memory>
#include <string>

namespace orva {

class ORVA_EXPORT OrvaDeviceInfo {
public:
    OrvaDeviceInfo() = default;
    ~OrvaDeviceInfo();
    OrvaDeviceInfo(const OrvaDeviceInfo&) = delete;
    OrvaDeviceInfo& operator=(const OrvaDeviceInfo&) = delete;

    // Null until set.
    std::shared_ptr<const std::string> name() const { return mName.load(); }
    void setName(std::shared_ptr<const std::string> name) { mName.store(std::move(name)); }
    void setName(const std::string& name) { setName(std::make_shared<const std::string>(name)); }
    std::shared_ptr<const std::string> path() const { return mPath.load(); }
    void setPath(std::shared_ptr<const std::string> path) { mPath.store(std::move(path)); }
    void setPath(const std::string& path) { setPath(std::make_shared<const std::string>(path)); }
    // The name, or "" when there is none; for printing.
    std::string nameText() const;

    uint16_t productID() const { return mProductID; }
    void setProductID(uint16_t v) { mProductID = v; }
    uint16_t vendorID() const { return mVendorID; }
    void setVendorID(uint16_t v) { mVendorID = v; }
    int32_t deviceType() const { return mDeviceType; }
    void setDeviceType(int32_t v) { mDeviceType = v; }
    uint16_t revisionID() const { return mRevisionID; }
    void setRevisionID(uint16_t v) { mRevisionID = v; }

    // Equal when both paths are present and hold the same UTF-16 units; names, ids
    // and types play no part. A record without a path equals no record.
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
