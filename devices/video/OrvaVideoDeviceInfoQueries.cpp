// Information queries: vendor records read from the device information set, or from
// the alternate set when the camera lacks the first.
#include "devices/video/OrvaCameraModels.h"
#include "devices/video/OrvaPropertySets.h"
#include "devices/video/OrvaVideoDevicePrivate.h"
#include <orva/OrvaVideoDevice.h>

#include <zedederadIvo.h>

namespace orva {

namespace {
constexpr uint32_t kFirmwareVersion = 1, kFirmwareCRC = 2, kEEPROM = 3, kSensor = 4;
}

bool OrvaVideoDevice::hasBuiltInCamera()
{
    auto cameras = getVideoDeviceList();
    if (!cameras) return false;
    for (const auto& record : *cameras)
        if (record && record->vendorID() == kBuiltInCameraVendorID) return true;
    return false;
}

int32_t OrvaVideoDevice::Private::readInfoRecord(uint32_t id, void* block, uint32_t width)
{
    const int32_t result = getProperty(DeviceInfoSet, id, PropertyQueryCurrent, block, width);
    if (result == ZI_OK) return result;
    return getProperty(AlternateDeviceInfoSet, id, PropertyQueryCurrent, block, width); // block not cleared again
}

Value OrvaVideoDevice::getEEPROMInfo()
{
    uint8_t b[8] = {};
    (void)d().readInfoRecord(kEEPROM, b, 8); // not examined: zeros when both reads failed
    Value info = Value::makeTable();
    info.set("Major", Number::numberWithInt(b[0]));
    info.set("Minor", Number::numberWithInt(b[1]));
    return info;
}

Value OrvaVideoDevice::getSensorInfo()
{
    uint8_t b[2] = {};
    if (d().readInfoRecord(kSensor, b, 2) != ZI_OK) return {};
    Value info = Value::makeTable();
    info.set("SensorTech", Number::numberWithInt(b[0]));
    info.set("SensorType", Number::numberWithInt(b[1]));
    return info;
}

Value OrvaVideoDevice::getFirmwareVersion()
{
    uint8_t b[4] = {};
    if (d().readInfoRecord(kFirmwareVersion, b, 4) != ZI_OK) return {};
    Value info = Value::makeTable();
    info.set("Major", Number::numberWithInt(b[1]));
    info.set("Minor", Number::numberWithInt(b[0]));
    info.set("BuildNo", Number::numberWithInt(b[2] | b[3] << 8));
    return info;
}

std::optional<Number> OrvaVideoDevice::getFirmwareCRCControl()
{
    uint8_t b[2] = {};
    if (d().readInfoRecord(kFirmwareCRC, b, 2) != ZI_OK) return std::nullopt;
    return Number::numberWithInt(b[0] | b[1] << 8);
}

} // namespace orva
