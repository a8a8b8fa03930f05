// The system implementation's extras: the report `orva doctor` prints, and the
// device-file seam for tests.
#include "CameraDirectory.h"
#include "DeviceFile.h"
#include "PipeWireSources.h"
#include "zedederadIvoSystem.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>
#include <grp.h>
#include <sys/stat.h>

namespace zi::sys {

namespace {

std::string hex4(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

// What a person can do about a node they may not open: join the node's group (the
// distributions' "video" when the node cannot even be looked at).
std::string permissionAdvice(const CameraNode& node)
{
    struct stat info{};
    std::string name = "video";
    if (::stat(node.node.c_str(), &info) == 0) {
        const group* owner = getgrgid(info.st_gid);
        name = owner ? owner->gr_name : std::to_string(info.st_gid);
    }
    return "; join the group \"" + name + "\" (sudo usermod -aG " + name + " $USER, then log in again)";
}

std::string cameraReport()
{
    CameraDirectory directory;
    std::string text = "Cameras (udev video4linux nodes):\n";
    if (!directory.start(false)) return text + "  udev cannot be reached: no cameras can be listed\n";
    const auto nodes = directory.all();
    if (nodes.empty()) text += "  no video4linux nodes: no camera is attached, or no video driver is loaded\n";
    for (const auto& node : nodes) {
        text += "  " + node.node + "  " + node.name;
        if (!node.bus.empty()) text += "  usb " + node.bus + " " + hex4(node.vendorID) + ":" + hex4(node.productID);
        if (!node.serial.empty()) text += " serial " + node.serial;
        text += "\n    ";
        if (node.listed) {
            text += "listed as " + node.path() + "\n";
        } else {
            text += "not listed: " + node.reason;
            if (node.openError == EACCES || node.openError == EPERM) text += permissionAdvice(node);
            text += "\n";
        }
    }
    if (!CameraDirectory::allVendors())
        text += "  (only the maker's cameras are listed; ORVA_ALL_VENDORS=1 or orva --all-vendors lists every one)\n";
    return text;
}

// Cameras attached but not usable: a node of the maker's USB device that could not be
// opened, once per device (its metadata node fails alike).
std::string unusableCameras()
{
    CameraDirectory directory;
    if (!directory.start(false)) return {};
    std::string text;
    std::vector<std::string> devices;
    for (const auto& node : directory.all()) {
        if (node.listed || node.openError == 0) continue;
        if (!CameraDirectory::allVendors() && node.vendorID != ZI_MAKER_VENDOR_ID) continue;
        const std::string device = node.bus.empty() ? node.node : node.bus;
        if (std::find(devices.begin(), devices.end(), device) != devices.end()) continue;
        devices.push_back(device);
        text += node.node + ": " + node.name + " cannot be opened: " + std::strerror(node.openError);
        if (node.openError == EACCES || node.openError == EPERM) text += permissionAdvice(node);
        text += "\n";
    }
    return text;
}

std::string microphoneReport()
{
    std::string text = "Microphones (PipeWire audio sources):\n";
    auto sources = PipeWireSources::connect(nullptr);
    const auto all = sources->all();
    text += "  " + sources->status() + "\n";
    for (const auto& source : all) {
        text += "  " + source.nodeName + "  " + source.name;
        if (source.usb) text += "  usb " + source.bus + " " + hex4(source.vendorID) + ":" + hex4(source.productID);
        text += "\n    " + (source.listed ? "listed as " + source.path() : "not listed: " + source.reason) + "\n";
    }
    if (all.empty() && sources->connection()) text += "  no audio sources\n";
    return text;
}

} // namespace

} // namespace zi::sys

extern "C" {

ZI_EXPORT int32_t ZISys_Describe(char* buffer, uint32_t size)
{
    const std::string text = zi::sys::cameraReport() + zi::sys::microphoneReport();
    if (buffer && size > 0) {
        const size_t n = std::min<size_t>(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = 0;
    }
    return static_cast<int32_t>(text.size());
}

ZI_EXPORT int32_t ZISys_UnusableCameras(char* buffer, uint32_t size)
{
    const std::string text = zi::sys::unusableCameras();
    if (buffer && size > 0) {
        const size_t n = std::min<size_t>(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = 0;
    }
    return static_cast<int32_t>(text.size());
}

ZI_EXPORT void ZISys_SetDeviceFileOps(const ZISysDeviceFileOps* ops)
{
    zi::sys::devicefile::install(ops);
}

} // extern "C"
