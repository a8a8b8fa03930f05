// The camera nodes of the system: udev's video4linux devices, each with what its USB
// parent says (vendor, product, revision, serial, bus path, product name), whether it
// captures video (asked of the node itself, VIDIOC_QUERYCAP) and whether it is
// listed. A node is listed when it captures video, can be opened, and is the maker's
// (unless every vendor is wanted). A udev monitor reports arrivals and removals.
//
// Threads: every member function is thread-safe; receive() is called by the
// library's event thread only.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct udev;
struct udev_device;
struct udev_monitor;

namespace zi::sys {

struct CameraNode {
    std::string syspath;         // /sys/devices/…/video4linux/video0
    std::string node;            // /dev/video0
    std::string name;            // the USB product name, else the node's name
    uint16_t vendorID = 0, productID = 0, revision = 0;
    std::string serial;          // the USB serial number, when the device has one
    std::string bus;             // the USB device's bus path (1-4.2); empty for other buses
    std::string usbSyspath;      // the USB device's sysfs folder (raw descriptors)
    int interfaceNumber = -1;    // the VideoControl interface the node belongs to
    bool capture = false;        // the node captures video
    int openError = 0;           // errno of opening the node (0: it opened)
    bool listed = false;
    std::string reason;          // why it is not listed (empty when listed)

    // The device's path in the library's records: the node, then the USB bus path
    // and serial number ("/dev/video0;usb=1-4.2;serial=2B1F3C").
    std::string path() const;
};

// The node part of a record's path ("/dev/video0" of "/dev/video0;usb=…").
std::string nodeOfPath(const std::string& path);

class CameraDirectory {
public:
    CameraDirectory();
    ~CameraDirectory();
    CameraDirectory(const CameraDirectory&) = delete;
    CameraDirectory& operator=(const CameraDirectory&) = delete;

    // Makes the udev context (and, when `watch`, the monitor) and walks the nodes.
    // False when udev cannot be reached: the directory then stays empty.
    bool start(bool watch);
    // The monitor's descriptor, -1 when there is none.
    int monitorFd() const;
    // Reads one monitor event. Answers +1 when a listed camera arrived, -1 when one
    // left (its syspath in `syspath`), 0 otherwise. Repeated arrivals are ignored.
    int receive(std::string* syspath);

    std::vector<CameraNode> listed() const;
    std::vector<CameraNode> all() const;
    // The listed camera whose path is `path`, or whose node is `path`'s node.
    std::optional<CameraNode> find(const std::string& path) const;

    // Whether every vendor's cameras are listed (ORVA_ALL_VENDORS).
    static bool allVendors();

private:
    CameraNode describe(udev_device* device) const;

    mutable std::mutex mMutex;
    udev* mUdev = nullptr;
    udev_monitor* mMonitor = nullptr;
    std::vector<CameraNode> mNodes; // every video4linux node, listed or not
};

} // namespace zi::sys
