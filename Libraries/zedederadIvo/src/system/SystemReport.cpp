// The system implementation's extras: the report `orva doctor` prints, and the
// device-file seam for tests.
#include "CameraDirectory.h"
#include "DeviceFile.h"
#include <PipeWireSources.h>
#include "zedederadIvoSystem.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>
#include <grp.h>
#include <sys/stat.h>

namespace zi::sys {

using orva::pipewire::PipeWireSources;

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

// A record's field: tabs and line ends would break its line.
std::string field(std::string text)
{
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return text;
}

std::string records()
{
    std::string text;
    CameraDirectory directory;
    if (directory.start(false))
        for (const auto& node : directory.all()) {
            std::string reason = node.reason;
            if (node.openError == EACCES || node.openError == EPERM) reason += permissionAdvice(node);
            text += "camera\t" + field(node.node) + "\t" + field(node.name) + "\t" + field(node.bus) + "\t" +
                    hex4(node.vendorID) + "\t" + hex4(node.productID) + "\t" + field(node.serial) + "\t" +
                    (node.listed ? "1\t" + field(node.path()) : "0\t" + field(reason)) + "\n";
        }
    auto sources = PipeWireSources::connect(nullptr);
    for (const auto& source : sources->all())
        text += "microphone\t" + field(source.nodeName) + "\t" + field(source.name) + "\t" + field(source.bus) + "\t" +
                hex4(source.vendorID) + "\t" + hex4(source.productID) + "\t" + field(source.serial) + "\t" +
                (source.listed ? "1\t" + field(source.path()) : "0\t" + field(source.reason)) + "\n";
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

// Copies the text as the report functions answer it: cut to size, 0-terminated; its
// full length.
int32_t answer(const std::string& text, char* buffer, uint32_t size)
{
    if (buffer && size > 0) {
        const size_t n = std::min<size_t>(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = 0;
    }
    return static_cast<int32_t>(text.size());
}

} // namespace

} // namespace zi::sys

extern "C" {

ZI_EXPORT int32_t ZISys_Describe(char* buffer, uint32_t size)
{
    const std::string text = zi::sys::cameraReport() + zi::sys::microphoneReport();
    return zi::sys::answer(text, buffer, size);
}

ZI_EXPORT int32_t ZISys_DescribeRecords(char* buffer, uint32_t size)
{
    const std::string text = zi::sys::records();
    return zi::sys::answer(text, buffer, size);
}

ZI_EXPORT int32_t ZISys_UnusableCameras(char* buffer, uint32_t size)
{
    const std::string text = zi::sys::unusableCameras();
    return zi::sys::answer(text, buffer, size);
}

ZI_EXPORT void ZISys_SetDeviceFileOps(const ZISysDeviceFileOps* ops)
{
    zi::sys::devicefile::install(ops);
}

} // extern "C"
