// A mocked sysfs and udev (umockdev) for the system capture library's tests: USB
// cameras with their video4linux nodes, raw descriptors, and add/remove uevents
// that reach real libudev. The test binary runs under umockdev-wrapper.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace orvatest {

class UdevTestbed {
public:
    UdevTestbed();
    ~UdevTestbed();
    UdevTestbed(const UdevTestbed&) = delete;
    UdevTestbed& operator=(const UdevTestbed&) = delete;

    struct UsbCamera {
        std::string bus = "1-4"; // the USB device's sysfs name
        uint16_t vendorID = 0x2E7A, productID = 0x08E4, revision = 0x0102;
        std::string serial = "SN0001";
        std::string product = "ZI Camera";
        std::vector<uint8_t> descriptors; // raw USB descriptors; empty: none
    };
    // Adds the USB device and its VideoControl interface (number 0); answers the
    // interface's syspath.
    std::string addUsbCamera(const UsbCamera& camera);
    // Adds a video4linux node (video0 → /dev/video0) under a parent (empty: none);
    // answers its syspath. Nothing is announced until uevent().
    std::string addNode(const std::string& sysname, const std::string& parent);
    void uevent(const std::string& syspath, const char* action);
    // A udev property of a device (ID_V4L_PRODUCT, ...), as udev's rules set them.
    void setProperty(const std::string& syspath, const char* key, const char* value);
    // A symbolic link in the testbed's /dev (v4l/by-id/NAME → ../../video0), as udev
    // rules make them; answers the path programs see.
    std::string addDevLink(const std::string& link, const std::string& target);

    // USB descriptors of a VideoControl interface holding one extension unit.
    static std::vector<uint8_t> descriptorsWithExtensionUnit(const uint8_t guidAsStored[16], uint8_t unitID,
                                                              std::vector<uint8_t> controlBitmap);

private:
    UMockdevTestbed* mTestbed;
};

} // namespace orvatest
