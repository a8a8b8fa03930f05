// Controls. The camera-terminal and processing-unit sets map their UVC selectors onto
// V4L2 controls, each value as the UVC control lays it out (little-endian, the
// selector's width): the auto-exposure mode as the UVC bitmap (1 manual, 2 auto,
// 4 shutter priority, 8 aperture priority), absolute pan and tilt as one 8-byte
// value set in one VIDIOC_S_EXT_CTRLS, relative pan and tilt as direction and speed
// bytes. Vendor sets are the camera's UVC extension units, found by GUID in the USB
// descriptors and reached with UVCIOC_CTRL_QUERY.
#include "V4l2Camera.h"

#include "DeviceFile.h"
#include "PropertySets.h"

#include <linux/usb/video.h>
#include <linux/uvcvideo.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zi::sys {

enum class Shape { Plain, ExposureMode, PanTiltAbsolute, PanTiltRelative };

struct V4l2Camera::Control {
    bool cameraTerminal; // else processing unit
    uint32_t selector;
    uint32_t width;
    bool isSigned;
    Shape shape;
    uint32_t cid;
    uint32_t secondCid; // tilt, for the pan/tilt pairs
};

namespace {

using Control = V4l2Camera::Control;
constexpr bool CT = true, PU = false;
const Control kControls[] = {
    {CT, 2, 1, false, Shape::ExposureMode, V4L2_CID_EXPOSURE_AUTO, 0},
    {CT, 3, 1, false, Shape::Plain, V4L2_CID_EXPOSURE_AUTO_PRIORITY, 0},
    {CT, 4, 4, false, Shape::Plain, V4L2_CID_EXPOSURE_ABSOLUTE, 0},
    {CT, 6, 2, false, Shape::Plain, V4L2_CID_FOCUS_ABSOLUTE, 0},
    {CT, 8, 1, false, Shape::Plain, V4L2_CID_FOCUS_AUTO, 0},
    {CT, 11, 4, true, Shape::Plain, V4L2_CID_ZOOM_ABSOLUTE, 0},
    {CT, 12, 4, true, Shape::Plain, V4L2_CID_ZOOM_CONTINUOUS, 0},
    {CT, 13, 8, true, Shape::PanTiltAbsolute, V4L2_CID_PAN_ABSOLUTE, V4L2_CID_TILT_ABSOLUTE},
    {CT, 14, 4, false, Shape::PanTiltRelative, V4L2_CID_PAN_SPEED, V4L2_CID_TILT_SPEED},
    {PU, 1, 2, false, Shape::Plain, V4L2_CID_BACKLIGHT_COMPENSATION, 0},
    {PU, 2, 2, true, Shape::Plain, V4L2_CID_BRIGHTNESS, 0},
    {PU, 3, 2, false, Shape::Plain, V4L2_CID_CONTRAST, 0},
    {PU, 4, 2, false, Shape::Plain, V4L2_CID_GAIN, 0},
    {PU, 5, 1, false, Shape::Plain, V4L2_CID_POWER_LINE_FREQUENCY, 0},
    {PU, 6, 2, true, Shape::Plain, V4L2_CID_HUE, 0},
    {PU, 7, 2, false, Shape::Plain, V4L2_CID_SATURATION, 0},
    {PU, 8, 2, false, Shape::Plain, V4L2_CID_SHARPNESS, 0},
    {PU, 9, 2, false, Shape::Plain, V4L2_CID_GAMMA, 0},
    {PU, 10, 2, false, Shape::Plain, V4L2_CID_WHITE_BALANCE_TEMPERATURE, 0},
    {PU, 11, 1, false, Shape::Plain, V4L2_CID_AUTO_WHITE_BALANCE, 0},
    {PU, 16, 1, false, Shape::Plain, V4L2_CID_HUE_AUTO, 0},
};

// V4L2's exposure menu <-> the UVC auto-exposure bitmap.
constexpr uint8_t kExposureBits[] = {
    2, // V4L2_EXPOSURE_AUTO
    1, // V4L2_EXPOSURE_MANUAL
    4, // V4L2_EXPOSURE_SHUTTER_PRIORITY
    8, // V4L2_EXPOSURE_APERTURE_PRIORITY
};

int64_t exposureMenuFor(uint8_t bit)
{
    for (int64_t i = 0; i < 4; ++i)
        if (kExposureBits[i] == bit) return i;
    return -1;
}

bool isSet(const PropertySet& set, const Uuid& uuid)
{
    return std::memcmp(set.uuid, uuid.data(), 16) == 0;
}

void putLittleEndian(uint8_t* bytes, uint32_t width, int64_t value)
{
    for (uint32_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

int64_t getLittleEndian(const uint8_t* bytes, uint32_t width, bool isSigned)
{
    uint64_t value = 0;
    for (uint32_t i = 0; i < width; ++i) value |= uint64_t{bytes[i]} << (8 * i);
    if (isSigned && width < 8 && (value >> (8 * width - 1)) & 1) value |= ~uint64_t{0} << (8 * width);
    return static_cast<int64_t>(value);
}

} // namespace

void V4l2Camera::findControls()
{
    for (const auto& c : kControls) {
        bool present = false;
        for (uint32_t id : {c.cid, c.secondCid}) {
            if (id == 0) continue;
            v4l2_query_ext_ctrl query{};
            query.id = id;
            if (devicefile::xioctl(mFd, VIDIOC_QUERY_EXT_CTRL, &query) == 0 && !(query.flags & V4L2_CTRL_FLAG_DISABLED))
                present = true;
        }
        if (present) mControls.push_back(&c);
    }
}

const V4l2Camera::Control* V4l2Camera::control(const PropertySet& set, uint32_t id) const
{
    const bool terminal = isSet(set, kCameraTerminalSet);
    if (!terminal && !isSet(set, kProcessingUnitSet)) return nullptr;
    for (const Control* c : mControls)
        if (c->cameraTerminal == terminal && c->selector == id) return c;
    return nullptr;
}

const ExtensionUnit* V4l2Camera::extensionUnit(const PropertySet& set) const
{
    for (const auto& unit : mUnits)
        if (std::memcmp(unit.guid.data(), set.uuid, 16) == 0) return &unit;
    return nullptr;
}

std::vector<PropertySet> V4l2Camera::propertySets() const
{
    std::vector<PropertySet> sets;
    auto add = [&](const uint8_t* uuid) {
        PropertySet set{};
        std::memcpy(set.uuid, uuid, 16);
        set.kind = 2;
        sets.push_back(set);
    };
    for (bool terminal : {true, false})
        if (std::any_of(mControls.begin(), mControls.end(), [&](const Control* c) { return c->cameraTerminal == terminal; }))
            add(terminal ? kCameraTerminalSet.data() : kProcessingUnitSet.data());
    for (const auto& unit : mUnits) add(unit.guid.data());
    return sets;
}

int32_t V4l2Camera::propertyItems(const PropertySet& set, std::vector<uint32_t>& ids) const
{
    ids.clear();
    if (const ExtensionUnit* unit = extensionUnit(set)) {
        ids.assign(unit->selectors.begin(), unit->selectors.end());
        return ZI_OK;
    }
    const bool terminal = isSet(set, kCameraTerminalSet);
    if (!terminal && !isSet(set, kProcessingUnitSet)) return ZI_ERR_NO_PROPERTY;
    for (const Control* c : mControls)
        if (c->cameraTerminal == terminal) ids.push_back(c->selector);
    return ids.empty() ? ZI_ERR_NO_PROPERTY : ZI_OK;
}

int32_t V4l2Camera::getStandard(const Control& c, PropertyQuery query, uint8_t* bytes)
{
    // One value of one V4L2 control: the current one, or its default, minimum or maximum.
    auto read = [&](uint32_t id, int64_t& value) -> int {
        if (id == 0) {
            value = 0;
            return 0;
        }
        if (query == PropertyQueryCurrent) {
            v4l2_ext_control one{};
            one.id = id;
            v4l2_ext_controls list{};
            list.which = V4L2_CTRL_WHICH_CUR_VAL;
            list.count = 1;
            list.controls = &one;
            if (devicefile::xioctl(mFd, VIDIOC_G_EXT_CTRLS, &list) != 0) return errno;
            value = one.value;
            return 0;
        }
        v4l2_query_ext_ctrl info{};
        info.id = id;
        if (devicefile::xioctl(mFd, VIDIOC_QUERY_EXT_CTRL, &info) != 0) return errno;
        value = query == PropertyQueryDefault ? info.default_value
                : query == PropertyQueryMinimum ? info.minimum
                                                : info.maximum;
        return 0;
    };
    int64_t first = 0, second = 0;
    if (c.shape == Shape::ExposureMode && query != PropertyQueryCurrent && query != PropertyQueryDefault) {
        // Minimum 0; maximum: the bitmap of the modes the camera offers.
        if (query == PropertyQueryMinimum) {
            bytes[0] = 0;
            return ZI_OK;
        }
        uint8_t modes = 0;
        for (uint32_t index = 0; index < 4; ++index) {
            v4l2_querymenu item{};
            item.id = c.cid;
            item.index = index;
            if (devicefile::xioctl(mFd, VIDIOC_QUERYMENU, &item) == 0) modes |= kExposureBits[index];
        }
        bytes[0] = modes;
        return ZI_OK;
    }
    if (int error = read(c.cid, first)) return failure(error);
    if (int error = read(c.secondCid, second)) return failure(error);
    switch (c.shape) {
    case Shape::Plain:
        putLittleEndian(bytes, c.width, first);
        break;
    case Shape::ExposureMode:
        bytes[0] = first >= 0 && first < 4 ? kExposureBits[first] : 0;
        break;
    case Shape::PanTiltAbsolute:
        putLittleEndian(bytes, 4, first);
        putLittleEndian(bytes + 4, 4, second);
        break;
    case Shape::PanTiltRelative: {
        // Speed value v: direction 1 (v > 0), 0xFF (v < 0) or 0, then the speed |v|.
        const int64_t values[2] = {first, second};
        for (int axis = 0; axis < 2; ++axis) {
            const int64_t v = values[axis];
            bytes[2 * axis] = v > 0 ? 0x01 : (v < 0 ? 0xFF : 0x00);
            bytes[2 * axis + 1] = static_cast<uint8_t>(std::min<int64_t>(v < 0 ? -v : v, 255));
        }
        break;
    }
    }
    return ZI_OK;
}

int32_t V4l2Camera::setStandard(const Control& c, const uint8_t* bytes)
{
    v4l2_ext_control values[2]{};
    uint32_t count = 0;
    switch (c.shape) {
    case Shape::Plain:
        values[count].id = c.cid;
        values[count++].value = static_cast<int32_t>(getLittleEndian(bytes, c.width, c.isSigned));
        break;
    case Shape::ExposureMode: {
        int64_t menu = exposureMenuFor(bytes[0]);
        if (menu < 0) return ZI_ERR_INVALID_ARG;
        // The two automatic modes stand in for each other on a camera that has only one.
        v4l2_querymenu item{};
        item.id = c.cid;
        item.index = static_cast<uint32_t>(menu);
        if (devicefile::xioctl(mFd, VIDIOC_QUERYMENU, &item) != 0 &&
            (menu == V4L2_EXPOSURE_AUTO || menu == V4L2_EXPOSURE_APERTURE_PRIORITY))
            menu = menu == V4L2_EXPOSURE_AUTO ? V4L2_EXPOSURE_APERTURE_PRIORITY : V4L2_EXPOSURE_AUTO;
        values[count].id = c.cid;
        values[count++].value = static_cast<int32_t>(menu);
        break;
    }
    case Shape::PanTiltAbsolute:
    case Shape::PanTiltRelative:
        for (int axis = 0; axis < 2; ++axis) {
            const uint32_t id = axis == 0 ? c.cid : c.secondCid;
            v4l2_query_ext_ctrl info{};
            info.id = id;
            if (devicefile::xioctl(mFd, VIDIOC_QUERY_EXT_CTRL, &info) != 0) continue; // the head lacks this axis
            int32_t value;
            if (c.shape == Shape::PanTiltAbsolute) {
                value = static_cast<int32_t>(getLittleEndian(bytes + 4 * axis, 4, true));
            } else {
                const uint8_t direction = bytes[2 * axis], speed = bytes[2 * axis + 1];
                const int32_t magnitude = speed ? speed : 1;
                value = direction == 0 ? 0 : (direction == 0xFF ? -magnitude : magnitude);
            }
            values[count].id = id;
            values[count++].value = value;
        }
        break;
    }
    if (count == 0) return ZI_ERR_NO_PROPERTY;
    v4l2_ext_controls list{};
    list.which = V4L2_CTRL_WHICH_CUR_VAL;
    list.count = count;
    list.controls = values;
    if (devicefile::xioctl(mFd, VIDIOC_S_EXT_CTRLS, &list) != 0) return failure(errno);
    return ZI_OK;
}

int32_t V4l2Camera::queryExtensionUnit(const ExtensionUnit& unit, uint8_t selector, uint8_t request,
                                       std::vector<uint8_t>& data)
{
    uvc_xu_control_query query{};
    query.unit = unit.unitID;
    query.selector = selector;
    query.query = request;
    query.size = static_cast<uint16_t>(data.size());
    query.data = data.data();
    if (devicefile::xioctl(mFd, UVCIOC_CTRL_QUERY, &query) != 0) {
        if (errno == ENOENT) return ZI_ERR_NO_PROPERTY;
        return failure(errno == EINVAL ? EIO : errno); // a request the control refuses is a failure, not bad input
    }
    return ZI_OK;
}

int32_t V4l2Camera::getProperty(PropertyQuery query, const PropertySet& set, uint32_t id, void* value, uint32_t* size)
{
    if (mGone) return ZI_ERR_NO_DEVICE;
    if (query > PropertyQueryMaximum) return ZI_ERR_INVALID_ARG;
    if (const Control* c = control(set, id)) {
        if (*size < c->width) return ZI_ERR_INVALID_ARG;
        uint8_t bytes[8] = {};
        const int32_t result = getStandard(*c, query, bytes);
        if (result != ZI_OK) return result;
        std::memcpy(value, bytes, c->width);
        *size = c->width;
        return ZI_OK;
    }
    const ExtensionUnit* unit = extensionUnit(set);
    if (!unit || id > 255 || std::find(unit->selectors.begin(), unit->selectors.end(), id) == unit->selectors.end())
        return ZI_ERR_NO_PROPERTY;
    std::vector<uint8_t> length(2);
    if (int32_t result = queryExtensionUnit(*unit, static_cast<uint8_t>(id), UVC_GET_LEN, length)) return result;
    const uint32_t width = length[0] | length[1] << 8;
    if (width == 0 || *size < width) return ZI_ERR_INVALID_ARG;
    static constexpr uint8_t kRequests[] = {UVC_GET_CUR, UVC_GET_DEF, UVC_GET_MIN, UVC_GET_MAX};
    std::vector<uint8_t> data(width);
    if (int32_t result = queryExtensionUnit(*unit, static_cast<uint8_t>(id), kRequests[query], data)) return result;
    std::memcpy(value, data.data(), width);
    *size = width;
    return ZI_OK;
}

int32_t V4l2Camera::setProperty(const PropertySet& set, uint32_t id, const void* value, uint32_t* size)
{
    if (mGone) return ZI_ERR_NO_DEVICE;
    if (const Control* c = control(set, id)) {
        if (*size != c->width) return ZI_ERR_INVALID_ARG;
        return setStandard(*c, static_cast<const uint8_t*>(value));
    }
    const ExtensionUnit* unit = extensionUnit(set);
    if (!unit || id > 255 || std::find(unit->selectors.begin(), unit->selectors.end(), id) == unit->selectors.end())
        return ZI_ERR_NO_PROPERTY;
    std::vector<uint8_t> length(2);
    if (int32_t result = queryExtensionUnit(*unit, static_cast<uint8_t>(id), UVC_GET_LEN, length)) return result;
    const uint32_t width = length[0] | length[1] << 8;
    if (width == 0 || *size != width) return ZI_ERR_INVALID_ARG;
    std::vector<uint8_t> data(static_cast<const uint8_t*>(value), static_cast<const uint8_t*>(value) + width);
    return queryExtensionUnit(*unit, static_cast<uint8_t>(id), UVC_SET_CUR, data);
}

} // namespace zi::sys
