#include "UdevTestbed.h"

#include <filesystem>

#include <umockdev.h>

#include <cstdio>

namespace orvatest {

UdevTestbed::UdevTestbed() : mTestbed(umockdev_testbed_new()) {}

UdevTestbed::~UdevTestbed()
{
    g_object_unref(mTestbed);
}

namespace {
std::string hex4(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::string take(gchar* text)
{
    std::string out = text ? text : "";
    g_free(text);
    return out;
}
} // namespace

std::string UdevTestbed::addUsbCamera(const UsbCamera& c)
{
    const std::string usb = take(umockdev_testbed_add_device(
        mTestbed, "usb", c.bus.c_str(), nullptr, "idVendor", hex4(c.vendorID).c_str(), "idProduct",
        hex4(c.productID).c_str(), "bcdDevice", hex4(c.revision).c_str(), "serial", c.serial.c_str(), "product",
        c.product.c_str(), nullptr, "DEVTYPE", "usb_device", nullptr));
    if (!c.descriptors.empty()) {
        std::vector<guint8> bytes(c.descriptors.begin(), c.descriptors.end());
        umockdev_testbed_set_attribute_binary(mTestbed, usb.c_str(), "descriptors", bytes.data(),
                                              static_cast<gint>(bytes.size()));
    }
    const std::string interface = c.bus + ":1.0";
    return take(umockdev_testbed_add_device(mTestbed, "usb", interface.c_str(), usb.c_str(), "bInterfaceNumber", "00",
                                            "bInterfaceClass", "0e", nullptr, "DEVTYPE", "usb_interface", nullptr));
}

std::string UdevTestbed::addNode(const std::string& sysname, const std::string& parent)
{
    const std::string devname = "/dev/" + sysname;
    const std::string path = take(umockdev_testbed_add_device(mTestbed, "video4linux", sysname.c_str(),
                                                              parent.empty() ? nullptr : parent.c_str(), "name",
                                                              sysname.c_str(), nullptr, "DEVNAME", devname.c_str(),
                                                              nullptr));
    return path;
}

std::string UdevTestbed::addDevLink(const std::string& link, const std::string& target)
{
    const std::filesystem::path inTestbed = std::filesystem::path(take(umockdev_testbed_get_root_dir(mTestbed))) / "dev" / link;
    std::filesystem::create_directories(inTestbed.parent_path());
    std::filesystem::create_symlink(target, inTestbed);
    // The preload library shows a link of the testbed only when it leads somewhere
    // there: the node gets a file in the testbed's /dev (the seam still answers it).
    const auto node = (inTestbed.parent_path() / target).lexically_normal();
    if (!std::filesystem::exists(node)) std::fclose(std::fopen(node.c_str(), "w"));
    return "/dev/" + link;
}

void UdevTestbed::setProperty(const std::string& syspath, const char* key, const char* value)
{
    umockdev_testbed_set_property(mTestbed, syspath.c_str(), key, value);
}

void UdevTestbed::uevent(const std::string& syspath, const char* action)
{
    umockdev_testbed_uevent(mTestbed, syspath.c_str(), action);
}

std::vector<uint8_t> UdevTestbed::descriptorsWithExtensionUnit(const uint8_t guidAsStored[16], uint8_t unitID,
                                                                std::vector<uint8_t> controlBitmap)
{
    std::vector<uint8_t> d = {
        18, 0x01, 0x00, 0x02, 0xEF, 0x02, 0x01, 64, 0x7A, 0x2E, 0xE4, 0x08, 0x02, 0x01, 1, 2, 3, 1, // device
        9,  0x02, 0,    0,    2,    1,    0,    0x80, 250,                                          // configuration
        9,  0x04, 0,    0,    1,    0x0E, 0x01, 0x00, 0,                                          // VideoControl
        13, 0x24, 0x01, 0x00, 0x01, 0,    0,    0x00, 0x6C, 0xDC, 0x02, 1,    1,                  // VC header
    };
    const auto n = static_cast<uint8_t>(controlBitmap.size());
    d.push_back(static_cast<uint8_t>(24 + 1 + n)); // one input pin
    d.push_back(0x24);
    d.push_back(0x06); // extension unit
    d.push_back(unitID);
    d.insert(d.end(), guidAsStored, guidAsStored + 16);
    d.push_back(8); // bNumControls
    d.push_back(1); // bNrInPins
    d.push_back(1); // baSourceID
    d.push_back(n); // bControlSize
    d.insert(d.end(), controlBitmap.begin(), controlBitmap.end());
    d.push_back(0); // iExtension
    const uint16_t total = static_cast<uint16_t>(d.size() - 18);
    d[18 + 2] = static_cast<uint8_t>(total);
    d[18 + 3] = static_cast<uint8_t>(total >> 8);
    return d;
}

} // namespace orvatest
