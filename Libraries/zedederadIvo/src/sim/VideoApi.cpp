// Camera functions: formats, capture parameters, capture, properties.
#include "Call.h"
#include "H264Encoder.h"
#include "Stream.h"
#include "TestPattern.h"

#include <algorithm>
#include <cstring>

using namespace zi;

namespace {

std::string formatArg(const _VCI_PIXEL_FORMAT* format)
{
    return format ? "'" + fourccText(fourccFromPixelFormat(*format)) + "'" : "null";
}

std::string sizeArg(const _VCI_FRAME_SIZE* size)
{
    return size ? std::to_string(size->width) + "x" + std::to_string(size->height) : "null";
}

std::string tripleArgs(const void* buffer, const uint32_t* size, const uint32_t* count)
{
    return "buffer=" + ptrArg(buffer) + ", size=" + u32Arg(size) + ", count=" + u32Arg(count);
}

std::string bytesArg(const void* value, const uint32_t* size)
{
    if (value == nullptr || size == nullptr) return "null";
    std::string s;
    const auto* b = static_cast<const uint8_t*>(value);
    static const char* hex = "0123456789ABCDEF";
    for (uint32_t i = 0; i < std::min<uint32_t>(*size, 64); ++i) {
        s += hex[b[i] >> 4];
        s += hex[b[i] & 15];
    }
    return s;
}

PropertySetDesc* findSet(Device& d, const PropertySet* set)
{
    if (set == nullptr) return nullptr;
    for (auto& s : d.propertySets)
        if (std::memcmp(s.uuid.data(), set->uuid, 16) == 0) return &s;
    return nullptr;
}

const uint8_t kCameraTerminal[16] = {0xEE, 0xAC, 0xD0, 0x5B, 0x19, 0x30, 0x48, 0x7F,
                                     0x80, 0xEA, 0xA9, 0x1A, 0x94, 0xB6, 0x4F, 0x51};
const uint8_t kPanTiltExtension[16] = {0xFF, 0xE5, 0x2D, 0x21, 0x80, 0x30, 0x4E, 0x2C,
                                       0x82, 0xD9, 0xF5, 0x87, 0xD0, 0x05, 0x40, 0xBD};

// The motorised head: a relative move (camera terminal id 14, pan and tilt
// directions in bytes 0 and 2) steps the position kept in the vendor pan/tilt value,
// within its range; the vendor reset (id 2, value 3) brings it back to 0.
void applyHeadMotion(Device& d, const PropertySetDesc& set, uint32_t id, const uint8_t* value)
{
    const bool relativeMove = std::memcmp(set.uuid.data(), kCameraTerminal, 16) == 0 && id == 14;
    const bool reset = std::memcmp(set.uuid.data(), kPanTiltExtension, 16) == 0 && id == 2 && value[0] == 3;
    if (!relativeMove && !reset) return;
    for (auto& s : d.propertySets) {
        if (std::memcmp(s.uuid.data(), kPanTiltExtension, 16) != 0) continue;
        auto it = s.items.find(1);
        if (it == s.items.end() || it->second.width != 4) return;
        auto& p = it->second;
        int16_t pos[2], lo[2], hi[2];
        std::memcpy(pos, p.cur.data(), 4);
        std::memcpy(lo, p.min.data(), 4);
        std::memcpy(hi, p.max.data(), 4);
        for (int axis = 0; axis < 2; ++axis) {
            const int step = reset ? -pos[axis] : static_cast<int8_t>(value[axis * 2]);
            pos[axis] = static_cast<int16_t>(std::clamp(pos[axis] + step, static_cast<int>(lo[axis]), static_cast<int>(hi[axis])));
        }
        std::memcpy(p.cur.data(), pos, 4);
    }
}

constexpr uint32_t kAvc1 = 0x61766331;
constexpr uint32_t k2vuy = 0x32767579;

// A stream of the chosen format: H.264 with an IDR every second, or '2vuy'.
std::shared_ptr<Stream> makeVideoStream(void* handle, const std::shared_ptr<Device>& device,
                                        const _VCI_CAPTURE_PARAMETERS& p, uint32_t substream)
{
    const uint32_t code = fourccFromPixelFormat(p.pixelFormat);
    const int64_t period = static_cast<int64_t>(p.frameInterval) * 1000000 / p.intervalUnitsPerSecond;
    const uint32_t fps = period > 0 ? static_cast<uint32_t>((1000000 + period / 2) / period) : 30;
    const uint32_t w = p.width, h = p.height;
    if (w == 0 || h == 0 || w % 2 || h % 2) return nullptr;
    if (code == kAvc1 || substream == 1) {
        std::shared_ptr<H264Encoder> encoder = H264Encoder::create(w, h, fps ? fps : 30, p.bitRate, fps ? fps : 30);
        if (!encoder) return nullptr;
        auto picture = std::make_shared<std::vector<uint8_t>>();
        return std::make_shared<Stream>(handle, VCI_EVENT_FRAME, period, device,
                                        [encoder, picture, w, h](int64_t index, const uint8_t*& data, uint32_t& length) {
                                            drawPattern420(*picture, w, h, index);
                                            const auto& frame = encoder->encode(picture->data(), index);
                                            if (frame.empty()) return false;
                                            data = frame.data();
                                            length = static_cast<uint32_t>(frame.size());
                                            return true;
                                        });
    }
    if (code != k2vuy) return nullptr;
    auto picture = std::make_shared<std::vector<uint8_t>>();
    return std::make_shared<Stream>(handle, VCI_EVENT_FRAME, period, device,
                                    [picture, w, h](int64_t index, const uint8_t*& data, uint32_t& length) {
                                        drawPattern2vuy(*picture, w, h, index);
                                        data = picture->data();
                                        length = static_cast<uint32_t>(picture->size());
                                        return true;
                                    });
}

} // namespace

namespace zi::sim {

int32_t VCI_Enum_Pixel_Formats(VCI_HANDLE handle, _VCI_PIXEL_FORMAT* formats, uint32_t* size, uint32_t* count)
{
    Call call("VCI_Enum_Pixel_Formats", "handle=" + handleArg(handle) + ", " + tripleArgs(formats, size, count));
    if (auto r = call.injected()) return call.result(*r);
    return call.result(withDevice(handle, ZISIM_CAMERA, [&](Device& d) {
        std::vector<_VCI_PIXEL_FORMAT> records;
        std::vector<uint32_t> seen;
        for (auto& f : d.videoFormats) {
            if (std::find(seen.begin(), seen.end(), f.fourcc) != seen.end()) continue;
            seen.push_back(f.fourcc);
            _VCI_PIXEL_FORMAT p{};
            for (int i = 0; i < 4; ++i) p.fourcc[i] = static_cast<uint16_t>((f.fourcc >> (24 - 8 * i)) & 0xFF);
            records.push_back(p);
        }
        return listRecords(records, formats, size, count);
    }));
}

int32_t VCI_Enum_Frame_Sizes(VCI_HANDLE handle, const _VCI_PIXEL_FORMAT* format, _VCI_FRAME_SIZE* sizes,
                             uint32_t* size, uint32_t* count)
{
    Call call("VCI_Enum_Frame_Sizes",
              "handle=" + handleArg(handle) + ", format=" + formatArg(format) + ", " + tripleArgs(sizes, size, count));
    if (auto r = call.injected()) return call.result(*r);
    if (format == nullptr) return call.result(ZI_ERR_INVALID_ARG);
    return call.result(withDevice(handle, ZISIM_CAMERA, [&](Device& d) {
        std::vector<_VCI_FRAME_SIZE> records;
        const uint32_t code = fourccFromPixelFormat(*format);
        for (auto& f : d.videoFormats)
            if (f.fourcc == code) records.push_back({f.width, f.height});
        return listRecords(records, sizes, size, count);
    }));
}

int32_t VCI_Enum_Frame_Intervals(VCI_HANDLE handle, const _VCI_PIXEL_FORMAT* format, const _VCI_FRAME_SIZE* frameSize,
                                 _VCI_FRAME_INTERVAL* intervals, uint32_t* size, uint32_t* count)
{
    Call call("VCI_Enum_Frame_Intervals", "handle=" + handleArg(handle) + ", format=" + formatArg(format) +
                                              ", frameSize=" + sizeArg(frameSize) + ", " +
                                              tripleArgs(intervals, size, count));
    if (auto r = call.injected()) return call.result(*r);
    if (format == nullptr || frameSize == nullptr) return call.result(ZI_ERR_INVALID_ARG);
    return call.result(withDevice(handle, ZISIM_CAMERA, [&](Device& d) {
        std::vector<_VCI_FRAME_INTERVAL> records;
        const uint32_t code = fourccFromPixelFormat(*format);
        for (auto& f : d.videoFormats)
            if (f.fourcc == code && f.width == frameSize->width && f.height == frameSize->height)
                for (uint32_t i : f.intervals) records.push_back({i, 0});
        return listRecords(records, intervals, size, count);
    }));
}

int32_t VCI_Set_Capture_Parameters(VCI_HANDLE handle, const _VCI_CAPTURE_PARAMETERS* p)
{
    std::string args = "handle=" + handleArg(handle);
    if (p)
        args += ", h264=" + std::to_string(p->isH264) + ", format=" + formatArg(&p->pixelFormat) +
                ", size=" + std::to_string(p->width) + "x" + std::to_string(p->height) +
                ", interval=" + std::to_string(p->frameInterval) + "/" + std::to_string(p->intervalUnitsPerSecond) +
                ", bitRate=" + std::to_string(p->bitRate) + ", setting=" + std::to_string(p->h264Setting);
    else
        args += ", parameters=null";
    Call call("VCI_Set_Capture_Parameters", args);
    if (auto r = call.injected()) return call.result(*r);
    if (p == nullptr) return call.result(ZI_ERR_INVALID_ARG);
    return call.result(withDevice(handle, ZISIM_CAMERA, [&](Device& d) {
        const uint32_t code = fourccFromPixelFormat(p->pixelFormat);
        const auto format = std::find_if(d.videoFormats.begin(), d.videoFormats.end(), [&](const VideoFormat& f) {
            return f.fourcc == code && f.width == p->width && f.height == p->height;
        });
        if (format == d.videoFormats.end() || p->intervalUnitsPerSecond == 0 || p->frameInterval == 0)
            return int32_t{ZI_ERR_INVALID_ARG};
        // The camera runs at the listed interval nearest to the one asked for.
        const uint64_t wanted = uint64_t{p->frameInterval} * 10000000u / p->intervalUnitsPerSecond;
        _VCI_CAPTURE_PARAMETERS granted = *p;
        if (!format->intervals.empty()) {
            uint32_t nearest = format->intervals.front();
            for (uint32_t i : format->intervals)
                if ((i > wanted ? i - wanted : wanted - i) < (nearest > wanted ? nearest - wanted : wanted - nearest))
                    nearest = i;
            granted.frameInterval = nearest;
            granted.intervalUnitsPerSecond = 10000000;
        }
        d.captureParameters = granted;
        return int32_t{ZI_OK};
    }));
}

int32_t VCI_Start_Capture(VCI_HANDLE handle, uint32_t substream)
{
    Call call("VCI_Start_Capture", "handle=" + handleArg(handle) + ", substream=" + std::to_string(substream));
    if (auto r = call.injected()) return call.result(*r);
    auto& bus = Bus::instance();
    std::shared_ptr<Stream> stream;
    int32_t status = withDevice(handle, ZISIM_CAMERA, [&](Device& d) {
        auto h = bus.handle(handle);
        if (h->stream) return int32_t{ZI_OK}; // already running
        if (bus.deviceStreaming(h->device)) return int32_t{ZI_ERR_BUSY};
        if (!d.captureParameters) return int32_t{ZI_ERR_INVALID_ARG};
        stream = makeVideoStream(handle, h->device, *d.captureParameters, substream);
        if (!stream) return int32_t{ZI_ERR_FAILED};
        h->stream = stream;
        return int32_t{ZI_OK};
    });
    if (status == ZI_OK && stream) stream->start();
    return call.result(status);
}

int32_t VCI_Stop_Capture(VCI_HANDLE handle, uint32_t substream)
{
    Call call("VCI_Stop_Capture", "handle=" + handleArg(handle) + ", substream=" + std::to_string(substream));
    if (auto r = call.injected()) return call.result(*r);
    return call.result(stopCapture(handle, ZISIM_CAMERA));
}

int32_t VCI_Get_Property(VCI_HANDLE handle, PropertyQuery query, const PropertySet* set, const uint32_t* propertyID,
                         void* value, uint32_t* size, uint32_t reserved1, uint32_t reserved2)
{
    Call call("VCI_Get_Property", "handle=" + handleArg(handle) + ", query=" + std::to_string(query) +
                                      ", set=" + (set ? uuidText(set->uuid) : "null") + ", id=" + u32Arg(propertyID) +
                                      ", size=" + u32Arg(size) + ", " + std::to_string(reserved1) + ", " +
                                      std::to_string(reserved2));
    if (auto r = call.injected()) return call.result(*r);
    if (set == nullptr || propertyID == nullptr || value == nullptr || size == nullptr || query > 3)
        return call.result(ZI_ERR_INVALID_ARG);
    return call.result(withDevice(handle, ZISIM_CAMERA, [&](Device& d) {
        auto* s = findSet(d, set);
        if (!s) return int32_t{ZI_ERR_NO_PROPERTY};
        auto it = s->items.find(*propertyID);
        if (it == s->items.end()) return int32_t{ZI_ERR_NO_PROPERTY};
        const Property& p = it->second;
        if (*size < p.width) return int32_t{ZI_ERR_INVALID_ARG};
        const std::vector<uint8_t>* bytes[] = {&p.cur, &p.def, &p.min, &p.max};
        std::memcpy(value, bytes[query]->data(), p.width);
        *size = p.width;
        return int32_t{ZI_OK};
    }));
}

int32_t VCI_Set_Property(VCI_HANDLE handle, const PropertySet* set, const uint32_t* propertyID, const void* value,
                         uint32_t* size, uint32_t reserved1, uint32_t reserved2)
{
    Call call("VCI_Set_Property", "handle=" + handleArg(handle) + ", set=" + (set ? uuidText(set->uuid) : "null") +
                                      ", id=" + u32Arg(propertyID) + ", value=" + bytesArg(value, size) +
                                      ", size=" + u32Arg(size) + ", " + std::to_string(reserved1) + ", " +
                                      std::to_string(reserved2));
    if (auto r = call.injected()) return call.result(*r);
    if (set == nullptr || propertyID == nullptr || value == nullptr || size == nullptr)
        return call.result(ZI_ERR_INVALID_ARG);
    return call.result(withDevice(handle, ZISIM_CAMERA, [&](Device& d) {
        auto* s = findSet(d, set);
        if (!s) return int32_t{ZI_ERR_NO_PROPERTY};
        auto it = s->items.find(*propertyID);
        if (it == s->items.end()) return int32_t{ZI_ERR_NO_PROPERTY};
        Property& p = it->second;
        if (*size != p.width) return int32_t{ZI_ERR_INVALID_ARG};
        std::memcpy(p.cur.data(), value, p.width);
        applyHeadMotion(d, *s, *propertyID, static_cast<const uint8_t*>(value));
        return int32_t{ZI_OK};
    }));
}

int32_t VCI_Enum_Property_Sets(VCI_HANDLE handle, PropertySet* sets, uint32_t* size, uint32_t* count)
{
    Call call("VCI_Enum_Property_Sets", "handle=" + handleArg(handle) + ", " + tripleArgs(sets, size, count));
    if (auto r = call.injected()) return call.result(*r);
    return call.result(withDevice(handle, ZISIM_CAMERA, [&](Device& d) {
        std::vector<PropertySet> records;
        for (auto& s : d.propertySets) {
            PropertySet p{};
            std::memcpy(p.uuid, s.uuid.data(), 16);
            p.kind = 2;
            records.push_back(p);
        }
        return listRecords(records, sets, size, count);
    }));
}

int32_t VCI_Enum_Property_Items(VCI_HANDLE handle, const PropertySet* set, uint32_t* ids, uint32_t* size,
                                uint32_t* count)
{
    Call call("VCI_Enum_Property_Items", "handle=" + handleArg(handle) + ", set=" +
                                             (set ? uuidText(set->uuid) : "null") + ", " +
                                             tripleArgs(ids, size, count));
    if (auto r = call.injected()) return call.result(*r);
    if (set == nullptr) return call.result(ZI_ERR_INVALID_ARG);
    return call.result(withDevice(handle, ZISIM_CAMERA, [&](Device& d) {
        auto* s = findSet(d, set);
        if (!s) return int32_t{ZI_ERR_NO_PROPERTY};
        return listRecords(s->order, ids, size, count);
    }));
}

} // namespace zi::sim
