#include "CameraDirectory.h"

#include "DeviceFile.h"
#include "zedederadIvoSystem.h"

#include <libudev.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

namespace zi::sys {

namespace {

std::string text(const char* value)
{
    return value ? value : "";
}

uint16_t hexAttribute(udev_device* device, const char* name)
{
    const char* value = device ? udev_device_get_sysattr_value(device, name) : nullptr;
    if (!value) return 0;
    char* end = nullptr;
    const unsigned long number = std::strtoul(value, &end, 16);
    return end != value && number <= 0xFFFF ? static_cast<uint16_t>(number) : 0;
}

// Opens the node through the device-file seam and asks whether it captures video.
void queryCapabilities(CameraNode& node)
{
    const int fd = devicefile::open(node.node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        node.openError = errno;
        return;
    }
    v4l2_capability caps{};
    if (devicefile::xioctl(fd, VIDIOC_QUERYCAP, &caps) == 0) {
        const uint32_t own = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
        node.capture = (own & V4L2_CAP_VIDEO_CAPTURE) && (own & V4L2_CAP_STREAMING);
    }
    devicefile::close(fd);
}

} // namespace

std::string CameraNode::path() const
{
    std::string path = node;
    if (!bus.empty()) path += ";usb=" + bus;
    if (!serial.empty()) path += ";serial=" + serial;
    return path;
}

std::string nodeOfPath(const std::string& path)
{
    return path.substr(0, path.find(';'));
}

CameraDirectory::CameraDirectory() = default;

CameraDirectory::~CameraDirectory()
{
    if (mMonitor) udev_monitor_unref(mMonitor);
    if (mUdev) udev_unref(mUdev);
}

bool CameraDirectory::allVendors()
{
    const char* value = std::getenv("ORVA_ALL_VENDORS");
    return value && *value && std::strcmp(value, "0") != 0;
}

CameraNode CameraDirectory::describe(udev_device* device) const
{
    CameraNode node;
    node.syspath = text(udev_device_get_syspath(device));
    node.node = text(udev_device_get_devnode(device));
    if (node.node.empty()) node.node = "/dev/" + text(udev_device_get_sysname(device));
    if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device")) {
        node.vendorID = hexAttribute(usb, "idVendor");
        node.productID = hexAttribute(usb, "idProduct");
        node.revision = hexAttribute(usb, "bcdDevice");
        node.serial = text(udev_device_get_sysattr_value(usb, "serial"));
        node.bus = text(udev_device_get_sysname(usb));
        node.usbSyspath = text(udev_device_get_syspath(usb));
        const std::string product = text(udev_device_get_sysattr_value(usb, "product"));
        if (!product.empty()) node.name = product;
    }
    if (udev_device* interface = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_interface")) {
        const char* number = udev_device_get_sysattr_value(interface, "bInterfaceNumber");
        if (number) node.interfaceNumber = static_cast<int>(std::strtol(number, nullptr, 16));
    }
    // The USB product string, else what udev's hardware database or V4L2 call it,
    // else the driver's name for the node.
    for (const char* property : {"ID_MODEL_FROM_DATABASE", "ID_V4L_PRODUCT"})
        if (node.name.empty()) node.name = text(udev_device_get_property_value(device, property));
    if (node.name.empty()) node.name = text(udev_device_get_sysattr_value(device, "name"));
    if (node.name.empty()) node.name = node.node;
    queryCapabilities(node);

    char vendor[64];
    std::snprintf(vendor, sizeof vendor, "vendor %04x is not the maker's (%04x)", node.vendorID, ZI_MAKER_VENDOR_ID);
    if (node.openError != 0)
        node.reason = "cannot open " + node.node + ": " + std::strerror(node.openError);
    else if (!node.capture)
        node.reason = "does not capture video (a metadata or output node)";
    else if (!allVendors() && node.vendorID != ZI_MAKER_VENDOR_ID)
        node.reason = vendor;
    node.listed = node.reason.empty();
    return node;
}

bool CameraDirectory::start(bool watch)
{
    std::lock_guard lock(mMutex);
    if (!mUdev) mUdev = udev_new();
    if (!mUdev) return false;
    if (watch && !mMonitor) {
        mMonitor = udev_monitor_new_from_netlink(mUdev, "udev");
        if (mMonitor) {
            udev_monitor_filter_add_match_subsystem_devtype(mMonitor, "video4linux", nullptr);
            if (udev_monitor_enable_receiving(mMonitor) < 0) {
                udev_monitor_unref(mMonitor);
                mMonitor = nullptr;
            }
        }
    }
    mNodes.clear();
    udev_enumerate* walk = udev_enumerate_new(mUdev);
    if (!walk) return false;
    udev_enumerate_add_match_subsystem(walk, "video4linux");
    udev_enumerate_scan_devices(walk);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(walk))
    {
        if (udev_device* device = udev_device_new_from_syspath(mUdev, udev_list_entry_get_name(entry))) {
            mNodes.push_back(describe(device));
            udev_device_unref(device);
        }
    }
    udev_enumerate_unref(walk);
    std::sort(mNodes.begin(), mNodes.end(), [](const CameraNode& a, const CameraNode& b) {
        // video2 before video10
        return a.node.size() != b.node.size() ? a.node.size() < b.node.size() : a.node < b.node;
    });
    return true;
}

int CameraDirectory::monitorFd() const
{
    std::lock_guard lock(mMutex);
    return mMonitor ? udev_monitor_get_fd(mMonitor) : -1;
}

int CameraDirectory::receive(std::string* syspath)
{
    std::unique_lock lock(mMutex);
    if (!mMonitor) return 0;
    udev_device* device = udev_monitor_receive_device(mMonitor);
    if (!device) return 0;
    const std::string action = text(udev_device_get_action(device));
    const std::string path = text(udev_device_get_syspath(device));
    auto known = std::find_if(mNodes.begin(), mNodes.end(), [&](const CameraNode& n) { return n.syspath == path; });
    int change = 0;
    if (action == "remove") {
        if (known != mNodes.end()) {
            change = known->listed ? -1 : 0;
            mNodes.erase(known);
        }
    } else if (action == "add" || action == "change") {
        const bool wasListed = known != mNodes.end() && known->listed;
        lock.unlock(); // opening the node may take a moment
        CameraNode fresh = describe(device);
        lock.lock();
        known = std::find_if(mNodes.begin(), mNodes.end(), [&](const CameraNode& n) { return n.syspath == path; });
        if (known != mNodes.end())
            *known = fresh;
        else
            mNodes.push_back(fresh);
        change = fresh.listed && !wasListed ? 1 : (!fresh.listed && wasListed ? -1 : 0);
    }
    udev_device_unref(device);
    if (syspath) *syspath = path;
    return change;
}

std::vector<CameraNode> CameraDirectory::listed() const
{
    std::lock_guard lock(mMutex);
    std::vector<CameraNode> out;
    for (const auto& node : mNodes)
        if (node.listed) out.push_back(node);
    return out;
}

std::vector<CameraNode> CameraDirectory::all() const
{
    std::lock_guard lock(mMutex);
    return mNodes;
}

std::optional<CameraNode> CameraDirectory::find(const std::string& path) const
{
    std::lock_guard lock(mMutex);
    for (const auto& node : mNodes)
        if (node.listed && (node.path() == path || node.node == path)) return node;
    return std::nullopt;
}

} // namespace zi::sys
