// The camera's controls: one property call per method (the absolute pan and tilt
// setters read the other axis first), values passed through without clamping.
#include "devices/video/OrvaCameraModels.h"
#include "devices/video/OrvaPropertySets.h"
#include "devices/video/OrvaVideoDevicePrivate.h"
#include <orva/OrvaVideoDevice.h>

#include "platform/foundation/UUID.h"

#include <zedederadIvo.h>

#include <cstring>

namespace orva {

namespace {

constexpr uint32_t kCur = PropertyQueryCurrent, kDef = PropertyQueryDefault, kMin = PropertyQueryMinimum,
                   kMax = PropertyQueryMaximum;

// Camera terminal ids.
constexpr uint32_t kAutoExposureMode = 2, kAutoExposurePriority = 3, kExposure = 4, kFocus = 6, kAutoFocus = 8,
                   kZoom = 11, kZoomRelative = 12, kPanTilt = 13;
// Processing unit ids.
constexpr uint32_t kBrightness = 2, kContrast = 3, kAntiFlicker = 5, kHue = 6, kSaturation = 7, kSharpness = 8,
                   kWhiteBalance = 10, kAutoWhiteBalance = 11, kAutoHue = 16;
// Vendor ids.
constexpr uint32_t kRelativePanTiltValue = 1, kFieldOfView = 5, kSunwise = 6, kMirror = 13;

int64_t integerOf(const std::optional<Number>& value)
{
    return value ? value->integerValue() : 0;
}

PropertySet withUUID(const OrvaVideoDevice::UUIDBytes& uuid)
{
    PropertySet set{};
    std::memcpy(set.uuid, uuid.data(), 16);
    set.kind = 2;
    return set;
}

} // namespace

int32_t OrvaVideoDevice::Private::getProperty(const PropertySet& set, uint32_t id, uint32_t query, void* block, uint32_t width)
{
    PropertySet request = set;
    uint32_t size = width;
    return VCI_Get_Property(mHandle.load(), query, &request, &id, block, &size, 0, 0);
}

int32_t OrvaVideoDevice::Private::setProperty(const PropertySet& set, uint32_t id, const void* block, uint32_t width)
{
    PropertySet request = set;
    uint32_t size = width;
    return VCI_Set_Property(mHandle.load(), &request, &id, block, &size, 0, 0);
}

std::optional<Number> OrvaVideoDevice::Private::readNumber(const PropertySet& set, uint32_t id, uint32_t query, uint32_t width,
                                                           Kind kind, uint32_t offset)
{
    uint8_t block[8] = {};
    if (getProperty(set, id, query, block, width) != ZI_OK) return std::nullopt;
    const uint8_t* f = block + offset;
    switch (kind) {
    case Private::Kind::S32: {
        int32_t v;
        std::memcpy(&v, f, 4);
        return Number::numberWithInt(v);
    }
    case Private::Kind::U32: {
        uint32_t v;
        std::memcpy(&v, f, 4);
        return Number::numberWithUnsignedInt(v);
    }
    case Private::Kind::S16: {
        int16_t v;
        std::memcpy(&v, f, 2);
        return Number::numberWithShort(v);
    }
    case Private::Kind::U16: {
        uint16_t v;
        std::memcpy(&v, f, 2);
        return Number::numberWithUnsignedShort(v);
    }
    case Private::Kind::U8:
        return Number::numberWithUnsignedChar(f[0]);
    case Private::Kind::Bool:
        return Number::numberWithBool(f[0] != 0);
    }
    return std::nullopt;
}

void OrvaVideoDevice::Private::writeInteger(const PropertySet& set, uint32_t id, uint32_t width,
                                            const std::optional<Number>& value)
{
    const uint64_t v = static_cast<uint64_t>(integerOf(value)); // little-endian low bytes
    uint8_t block[8];
    std::memcpy(block, &v, 8);
    (void)setProperty(set, id, block, width);
}

void OrvaVideoDevice::Private::writeZoom(uint32_t id, const std::optional<Number>& value)
{
    const int32_t v = value ? value->shortValue() : 0; // sign-extended 16-bit value
    (void)setProperty(CameraTerminalSet, id, &v, 4);
}

void OrvaVideoDevice::Private::writeAbsolutePanTilt(bool pan, const std::optional<Number>& value)
{
    // The other axis as it is now (the block at offset 4 is tilt).
    const std::optional<Number> other = readNumber(CameraTerminalSet, kPanTilt, kCur, 8, Private::Kind::S32, pan ? 4 : 0);
    const int32_t mine = static_cast<int32_t>(integerOf(value));
    const int32_t theirs = static_cast<int32_t>(integerOf(other)); // 0 when the read failed
    int32_t block[2] = {pan ? mine : theirs, pan ? theirs : mine};
    (void)setProperty(CameraTerminalSet, kPanTilt, block, 8);
}

void OrvaVideoDevice::Private::writeRelativePanTilt(bool pan, const std::optional<Number>& value)
{
    int16_t block[2] = {0, 0};
    block[pan ? 0 : 1] = static_cast<int16_t>(integerOf(value));
    (void)setProperty(PanTiltExtensionSet, kRelativePanTiltValue, block, 4);
}

#define ORVA_GET(method, set, id, query, width, kind, offset) \
    std::optional<Number> OrvaVideoDevice::method() { return d().readNumber(set, id, query, width, Private::Kind::kind, offset); }

// Absolute pan and tilt share one 8-byte block.
ORVA_GET(getPanMin, CameraTerminalSet, kPanTilt, kMin, 8, S32, 0)
ORVA_GET(getPanMax, CameraTerminalSet, kPanTilt, kMax, 8, S32, 0)
ORVA_GET(getPanCur, CameraTerminalSet, kPanTilt, kCur, 8, S32, 0)
ORVA_GET(getPanDef, CameraTerminalSet, kPanTilt, kDef, 8, S32, 0)
ORVA_GET(getTiltMin, CameraTerminalSet, kPanTilt, kMin, 8, S32, 4)
ORVA_GET(getTiltMax, CameraTerminalSet, kPanTilt, kMax, 8, S32, 4)
ORVA_GET(getTiltCur, CameraTerminalSet, kPanTilt, kCur, 8, S32, 4)
ORVA_GET(getTiltDef, CameraTerminalSet, kPanTilt, kDef, 8, S32, 4)
void OrvaVideoDevice::setPanCur(const OptionalNumber& value) { d().writeAbsolutePanTilt(true, value); }
void OrvaVideoDevice::setTiltCur(const OptionalNumber& value) { d().writeAbsolutePanTilt(false, value); }

// The vendor relative pan/tilt value: pan in bytes 0-1, tilt in bytes 2-3.
ORVA_GET(getPanRelMin, PanTiltExtensionSet, kRelativePanTiltValue, kMin, 4, S16, 0)
ORVA_GET(getPanRelMax, PanTiltExtensionSet, kRelativePanTiltValue, kMax, 4, S16, 0)
ORVA_GET(getPanRelCur, PanTiltExtensionSet, kRelativePanTiltValue, kCur, 4, S16, 0)
ORVA_GET(getPanRelDef, PanTiltExtensionSet, kRelativePanTiltValue, kDef, 4, S16, 0)
ORVA_GET(getTiltRelMin, PanTiltExtensionSet, kRelativePanTiltValue, kMin, 4, S16, 2)
ORVA_GET(getTiltRelMax, PanTiltExtensionSet, kRelativePanTiltValue, kMax, 4, S16, 2)
ORVA_GET(getTiltRelDef, PanTiltExtensionSet, kRelativePanTiltValue, kDef, 4, S16, 2)
ORVA_GET(getTiltRelCur, PanTiltExtensionSet, kRelativePanTiltValue, kCur, 4, S16, 2)
void OrvaVideoDevice::setPanRelCur(const OptionalNumber& value) { d().writeRelativePanTilt(true, value); }
void OrvaVideoDevice::setTiltRelCur(const OptionalNumber& value) { d().writeRelativePanTilt(false, value); }

ORVA_GET(getZoomDef, CameraTerminalSet, kZoom, kDef, 4, S32, 0)
ORVA_GET(getZoomMin, CameraTerminalSet, kZoom, kMin, 4, S32, 0)
ORVA_GET(getZoomCur, CameraTerminalSet, kZoom, kCur, 4, S32, 0)
void OrvaVideoDevice::setZoomCur(const OptionalNumber& value) { d().writeZoom(kZoom, value); }

std::optional<Number> OrvaVideoDevice::getZoomMax()
{
    std::optional<Number> result = d().readNumber(CameraTerminalSet, kZoom, kMax, 4, Private::Kind::S32);
    const uint16_t product = d().mDeviceInfo ? d().mDeviceInfo->productID() : 0;
    for (const auto& row : kZoomMaxOverrides)
        if (row.productID == product) return Number::numberWithInt(row.reportedMaximum);
    return result;
}

ORVA_GET(getZoomRelDef, CameraTerminalSet, kZoomRelative, kDef, 4, S32, 0)
ORVA_GET(getZoomRelMin, CameraTerminalSet, kZoomRelative, kMin, 4, S32, 0)
ORVA_GET(getZoomRelMax, CameraTerminalSet, kZoomRelative, kMax, 4, S32, 0)
ORVA_GET(getZoomRelCur, CameraTerminalSet, kZoomRelative, kCur, 4, S32, 0)
void OrvaVideoDevice::setZoomRelCur(const OptionalNumber& value) { d().writeZoom(kZoomRelative, value); }

ORVA_GET(getBrightnessMin, ProcessingUnitSet, kBrightness, kMin, 2, S16, 0)
ORVA_GET(getBrightnessMax, ProcessingUnitSet, kBrightness, kMax, 2, S16, 0)
ORVA_GET(getBrightnessCur, ProcessingUnitSet, kBrightness, kCur, 2, S16, 0)
ORVA_GET(getBrightnessDefault, ProcessingUnitSet, kBrightness, kDef, 2, S16, 0)
void OrvaVideoDevice::setBrightnessCur(const OptionalNumber& v) { d().writeInteger(ProcessingUnitSet, kBrightness, 2, v); }

ORVA_GET(getContrastMin, ProcessingUnitSet, kContrast, kMin, 2, U16, 0)
ORVA_GET(getContrastMax, ProcessingUnitSet, kContrast, kMax, 2, U16, 0)
ORVA_GET(getContrastCur, ProcessingUnitSet, kContrast, kCur, 2, U16, 0)
ORVA_GET(getContrastDefault, ProcessingUnitSet, kContrast, kDef, 2, U16, 0)
void OrvaVideoDevice::setContrastCur(const OptionalNumber& v) { d().writeInteger(ProcessingUnitSet, kContrast, 2, v); }

ORVA_GET(getExposureMin, CameraTerminalSet, kExposure, kMin, 4, U32, 0)
ORVA_GET(getExposureMax, CameraTerminalSet, kExposure, kMax, 4, U32, 0)
ORVA_GET(getExposureCur, CameraTerminalSet, kExposure, kCur, 4, U32, 0)
ORVA_GET(getExposureDefault, CameraTerminalSet, kExposure, kDef, 4, U32, 0)
void OrvaVideoDevice::setExposureCur(const OptionalNumber& v) { d().writeInteger(CameraTerminalSet, kExposure, 4, v); }

bool OrvaVideoDevice::isAutoExposureSet()
{
    uint8_t mode = 0;
    return d().getProperty(CameraTerminalSet, kAutoExposureMode, kCur, &mode, 1) == ZI_OK && (mode & 0x08);
}

void OrvaVideoDevice::setAutoExposure(BOOL on)
{
    const uint8_t mode = on == 1 ? 8 : 1;
    (void)d().setProperty(CameraTerminalSet, kAutoExposureMode, &mode, 1);
    if (on == 0) {
        const uint8_t priority = 0;
        (void)d().setProperty(CameraTerminalSet, kAutoExposurePriority, &priority, 1);
    }
}

bool OrvaVideoDevice::isSunwiseSet()
{
    const auto uuid = UUID::fromString(SunwiseSetText);
    if (!uuid) return false;
    uint8_t value = 0;
    const int32_t result = d().getProperty(withUUID(uuid->bytes()), kSunwise, kCur, &value, 1);
    return result == ZI_OK && value != 0;
}

void OrvaVideoDevice::setSunwise(BOOL on)
{
    const auto uuid = UUID::fromString(SunwiseSetText);
    if (!uuid) return;
    const uint8_t value = on ? 1 : 0;
    (void)d().setProperty(withUUID(uuid->bytes()), kSunwise, &value, 1);
}

ORVA_GET(getSaturationMin, ProcessingUnitSet, kSaturation, kMin, 2, U16, 0)
ORVA_GET(getSaturationMax, ProcessingUnitSet, kSaturation, kMax, 2, U16, 0)
ORVA_GET(getSaturationCur, ProcessingUnitSet, kSaturation, kCur, 2, U16, 0)
ORVA_GET(getSaturationDefault, ProcessingUnitSet, kSaturation, kDef, 2, U16, 0)
void OrvaVideoDevice::setSaturationCur(const OptionalNumber& v) { d().writeInteger(ProcessingUnitSet, kSaturation, 2, v); }

ORVA_GET(getHueMin, ProcessingUnitSet, kHue, kMin, 2, S16, 0)
ORVA_GET(getHueMax, ProcessingUnitSet, kHue, kMax, 2, S16, 0)
ORVA_GET(getHueCur, ProcessingUnitSet, kHue, kCur, 2, S16, 0)
ORVA_GET(getHueDefault, ProcessingUnitSet, kHue, kDef, 2, S16, 0)
void OrvaVideoDevice::setHueCur(const OptionalNumber& v) { d().writeInteger(ProcessingUnitSet, kHue, 2, v); }

bool OrvaVideoDevice::isAutoHueSet()
{
    uint8_t value = 0;
    (void)d().getProperty(ProcessingUnitSet, kAutoHue, kCur, &value, 1); // not examined: NO after a failure
    return value == 1;
}

bool OrvaVideoDevice::getAutoHueDefault()
{
    uint8_t value = 0;
    (void)d().getProperty(ProcessingUnitSet, kAutoHue, kDef, &value, 1);
    return value == 1;
}

void OrvaVideoDevice::setAutoHue(BOOL on)
{
    const uint8_t value = on ? 1 : 0;
    (void)d().setProperty(ProcessingUnitSet, kAutoHue, &value, 1);
}

ORVA_GET(getSharpnessMin, ProcessingUnitSet, kSharpness, kMin, 2, U16, 0)
ORVA_GET(getSharpnessMax, ProcessingUnitSet, kSharpness, kMax, 2, U16, 0)
ORVA_GET(getSharpnessCur, ProcessingUnitSet, kSharpness, kCur, 2, U16, 0)
ORVA_GET(getSharpnessDefault, ProcessingUnitSet, kSharpness, kDef, 2, U16, 0)
void OrvaVideoDevice::setSharpnessCur(const OptionalNumber& v) { d().writeInteger(ProcessingUnitSet, kSharpness, 2, v); }

ORVA_GET(getFocusMin, CameraTerminalSet, kFocus, kMin, 2, U16, 0)
ORVA_GET(getFocusMax, CameraTerminalSet, kFocus, kMax, 2, U16, 0)
ORVA_GET(getFocusCur, CameraTerminalSet, kFocus, kCur, 2, U16, 0)
ORVA_GET(getFocusDefault, CameraTerminalSet, kFocus, kDef, 2, U16, 0)
void OrvaVideoDevice::setFocusCur(const OptionalNumber& v) { d().writeInteger(CameraTerminalSet, kFocus, 2, v); }

void OrvaVideoDevice::setWhiteBalAuto(BOOL on)
{
    const auto value = static_cast<uint8_t>(on); // the byte unchanged: 2 stays 2
    (void)d().setProperty(ProcessingUnitSet, kAutoWhiteBalance, &value, 1);
}

ORVA_GET(isAutoWhiteBalanceSet, ProcessingUnitSet, kAutoWhiteBalance, kCur, 1, U8, 0)

bool OrvaVideoDevice::getAutoWhiteBalanceDefault()
{
    uint8_t value = 0;
    (void)d().getProperty(ProcessingUnitSet, kAutoWhiteBalance, kDef, &value, 1);
    return value != 0;
}

ORVA_GET(getWhiteBalMin, ProcessingUnitSet, kWhiteBalance, kMin, 2, U16, 0)
ORVA_GET(getWhiteBalMax, ProcessingUnitSet, kWhiteBalance, kMax, 2, U16, 0)
ORVA_GET(getWhiteBalCur, ProcessingUnitSet, kWhiteBalance, kCur, 2, U16, 0)
ORVA_GET(getWhiteBalDefault, ProcessingUnitSet, kWhiteBalance, kDef, 2, U16, 0)
void OrvaVideoDevice::setWhiteBalCur(const OptionalNumber& v) { d().writeInteger(ProcessingUnitSet, kWhiteBalance, 2, v); }

void OrvaVideoDevice::setAutoFocusCur(int64_t on)
{
    const uint8_t value = on ? 1 : 0;
    (void)d().setProperty(CameraTerminalSet, kAutoFocus, &value, 1);
}

ORVA_GET(isAutoFocusSet, CameraTerminalSet, kAutoFocus, kCur, 1, Bool, 0)

bool OrvaVideoDevice::getAutoFocusDefault()
{
    uint8_t value = 0;
    (void)d().getProperty(CameraTerminalSet, kAutoFocus, kDef, &value, 1);
    return value != 0;
}

bool OrvaVideoDevice::isAntiFlickerSupported()
{
    uint8_t value = 0;
    return d().getProperty(ProcessingUnitSet, kAntiFlicker, kCur, &value, 1) != ZI_ERR_NO_PROPERTY;
}

std::optional<Number> OrvaVideoDevice::getAntiFlickerCur()
{
    uint8_t value = 0;
    (void)d().getProperty(ProcessingUnitSet, kAntiFlicker, kCur, &value, 1); // 0 after a failure, never null
    return Number::numberWithUnsignedChar(value);
}

std::optional<Number> OrvaVideoDevice::getAntiFlickerDefault()
{
    uint8_t value = 0;
    (void)d().getProperty(ProcessingUnitSet, kAntiFlicker, kDef, &value, 1);
    return Number::numberWithUnsignedChar(value);
}

ORVA_GET(getAntiFlickerMax, ProcessingUnitSet, kAntiFlicker, kMax, 1, U8, 0)

void OrvaVideoDevice::setAntiFlickerCur(const OptionalNumber& v) { d().writeInteger(ProcessingUnitSet, kAntiFlicker, 1, v); }

bool OrvaVideoDevice::isMirrorSupported()
{
    UUIDBytes uuid;
    std::memcpy(uuid.data(), ImageGeometrySet.uuid, 16);
    return isPropertyItemSupported(uuid, kMirror);
}

std::optional<Number> OrvaVideoDevice::getMirrorDef()
{
    if (!isMirrorSupported()) return std::nullopt;
    uint8_t value = 0;
    (void)d().getProperty(ImageGeometrySet, kMirror, kDef, &value, 1);
    return Number::numberWithUnsignedChar(value);
}

std::optional<Number> OrvaVideoDevice::getMirrorCur()
{
    if (!isMirrorSupported()) return std::nullopt;
    uint8_t value = 0;
    (void)d().getProperty(ImageGeometrySet, kMirror, kCur, &value, 1);
    return Number::numberWithUnsignedChar(value);
}

void OrvaVideoDevice::setMirrorCur(const OptionalNumber& v) { d().writeInteger(ImageGeometrySet, kMirror, 1, v); }

void OrvaVideoDevice::setFieldOfView(int32_t value)
{
    const auto byte = static_cast<uint8_t>(value);
    (void)d().setProperty(ImageGeometrySet, kFieldOfView, &byte, 1);
}

bool OrvaVideoDevice::getFieldOfView(OptionalNumber* slot)
{
    uint8_t value = 0;
    const int32_t result = d().getProperty(ImageGeometrySet, kFieldOfView, kCur, &value, 1);
    if (slot) *slot = Number::numberWithUnsignedChar(value);
    return result == ZI_OK;
}

bool OrvaVideoDevice::isPropertySupported(UUIDBytes uuid)
{
    uint32_t size = 0, count = 0;
    if (VCI_Enum_Property_Sets(d().mHandle.load(), nullptr, &size, &count) == ZI_OK) return false;
    std::vector<PropertySet> sets(count);
    if (count == 0 || VCI_Enum_Property_Sets(d().mHandle.load(), sets.data(), &size, &count) != ZI_OK) return false;
    for (uint32_t i = 0; i < count && i < sets.size(); ++i)
        if (std::memcmp(sets[i].uuid, uuid.data(), 16) == 0) return true; // kind not compared
    return false;
}

bool OrvaVideoDevice::isPropertyItemSupported(UUIDBytes uuid, uint32_t item)
{
    if (!isPropertySupported(uuid)) return false;
    PropertySet set = withUUID(uuid);
    uint32_t size = 0, count = 0;
    if (VCI_Enum_Property_Items(d().mHandle.load(), &set, nullptr, &size, &count) == ZI_OK) return false;
    std::vector<uint32_t> ids(count);
    if (count == 0 || VCI_Enum_Property_Items(d().mHandle.load(), &set, ids.data(), &size, &count) != ZI_OK) return false;
    for (uint32_t i = 0; i < count && i < ids.size(); ++i)
        if (ids[i] == item) return true;
    return false;
}

#undef ORVA_GET

} // namespace orva
