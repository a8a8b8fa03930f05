// The system implementation of the ABI: cameras over V4L2 (V4l2Camera, found by
// CameraDirectory), microphones over PipeWire (PipeWireMicrophone, found by
// PipeWireSources).
#include "../Backend.h"
#include "Listing.h"
#include "PipeWireMicrophone.h"
#include <PipeWireSources.h>
#include "SystemLibrary.h"
#include "Text.h"
#include "V4l2Camera.h"

#include <cstring>

namespace zi::sys {

namespace {

SystemLibrary& library()
{
    return SystemLibrary::instance();
}

_VCI_DEVICE_ENTRY entry(const std::string& path, const std::string& name, uint16_t vendor, uint16_t product,
                        uint16_t revision)
{
    _VCI_DEVICE_ENTRY e{};
    utf8ToUtf16Field(path, e.path, ZI_DEVICE_TEXT_UNITS);
    utf8ToUtf16Field(name, e.name, ZI_DEVICE_TEXT_UNITS);
    e.vendorID = vendor;
    e.productID = product;
    e.revision = revision;
    return e;
}

uint32_t fourcc(const _VCI_PIXEL_FORMAT& format)
{
    uint32_t code = 0;
    for (int i = 0; i < 4; ++i) code = (code << 8) | (format.fourcc[i] & 0xFF);
    return code;
}

template <typename Body>
int32_t withCamera(void* handle, Body body)
{
    auto camera = library().camera(handle);
    if (!camera) return ZI_ERR_INVALID_HANDLE;
    if (camera->gone()) return ZI_ERR_NO_DEVICE;
    return body(*camera);
}

template <typename Body>
int32_t withMicrophone(void* handle, Body body)
{
    auto microphone = library().microphone(handle);
    if (!microphone) return ZI_ERR_INVALID_HANDLE;
    return body(*microphone);
}

} // namespace

int32_t VCI_Init(void)
{
    return library().init(true);
}

int32_t VCI_Cleanup(void)
{
    return library().cleanup(true);
}

int32_t ACI_Init(void)
{
    return library().init(false);
}

int32_t ACI_Cleanup(void)
{
    return library().cleanup(false);
}

int32_t VCI_Enum_Devices(_VCI_DEVICE_ENTRY* entries, uint32_t* size, uint32_t* count)
{
    auto cameras = library().cameras();
    if (!cameras) return ZI_ERR_NOT_INITIALIZED;
    std::vector<_VCI_DEVICE_ENTRY> records;
    for (const auto& node : cameras->listed())
        records.push_back(entry(node.path(), node.name, node.vendorID, node.productID, node.revision));
    return listRecords(records, entries, size, count);
}

int32_t ACI_Enum_Devices(_VCI_DEVICE_ENTRY* entries, uint32_t* size, uint32_t* count)
{
    if (!library().initialised(false)) return ZI_ERR_NOT_INITIALIZED;
    std::vector<_VCI_DEVICE_ENTRY> records;
    if (auto sources = library().sources())
        for (const auto& source : sources->listed())
            records.push_back(entry(source.path(), source.name, source.vendorID, source.productID, 0));
    return listRecords(records, entries, size, count);
}

VCI_HANDLE VCI_Open_Device(const uint16_t* path)
{
    auto cameras = library().cameras();
    if (!cameras || !path) return nullptr;
    auto node = cameras->find(utf16ToUtf8(path, ZI_DEVICE_TEXT_UNITS));
    if (!node) return nullptr;
    auto camera = V4l2Camera::open(*node, library().subscriptions());
    return camera ? library().addCamera(std::move(camera)) : nullptr;
}

ACI_HANDLE ACI_Open_Device(const uint16_t* path)
{
    if (!path) return nullptr;
    auto microphone = PipeWireMicrophone::open(library().sources(), utf16ToUtf8(path, ZI_DEVICE_TEXT_UNITS),
                                               library().subscriptions());
    return microphone ? library().addMicrophone(std::move(microphone)) : nullptr;
}

int32_t VCI_Close_Device(void* handle)
{
    return library().close(handle);
}

namespace {
int32_t subscribe(void* handle, uint32_t event, VCI_EVENT_CALLBACK video, ACI_EVENT_CALLBACK audio, void* context)
{
    if (!video && !audio) return ZI_ERR_INVALID_ARG;
    if (handle == nullptr) {
        if (!library().initialised(video != nullptr)) return ZI_ERR_NOT_INITIALIZED;
    } else if (video ? !library().camera(handle) : !library().microphone(handle)) {
        return ZI_ERR_INVALID_HANDLE;
    }
    return library().subscriptions().add(handle, event, video, audio, context);
}

int32_t unsubscribe(void* handle, uint32_t event)
{
    if (handle != nullptr && !library().owns(handle)) return ZI_ERR_INVALID_HANDLE;
    return library().subscriptions().remove(handle, event);
}
} // namespace

int32_t VCI_Subscribe_Event(VCI_HANDLE handle, uint32_t event, VCI_EVENT_CALLBACK callback, void* context)
{
    return callback ? subscribe(handle, event, callback, nullptr, context) : ZI_ERR_INVALID_ARG;
}

int32_t VCI_UnSubscribe_Event(VCI_HANDLE handle, uint32_t event)
{
    return unsubscribe(handle, event);
}

int32_t ACI_Subscribe_Event(ACI_HANDLE handle, uint32_t event, ACI_EVENT_CALLBACK callback, void* context)
{
    return callback ? subscribe(handle, event, nullptr, callback, context) : ZI_ERR_INVALID_ARG;
}

int32_t ACI_UnSubscribe_Event(ACI_HANDLE handle, uint32_t event)
{
    return unsubscribe(handle, event);
}

int32_t VCI_Enum_Pixel_Formats(VCI_HANDLE handle, _VCI_PIXEL_FORMAT* formats, uint32_t* size, uint32_t* count)
{
    return withCamera(handle, [&](V4l2Camera& camera) {
        std::vector<_VCI_PIXEL_FORMAT> records;
        for (uint32_t code : camera.codes()) {
            _VCI_PIXEL_FORMAT p{};
            for (int i = 0; i < 4; ++i) p.fourcc[i] = static_cast<uint16_t>((code >> (24 - 8 * i)) & 0xFF);
            records.push_back(p);
        }
        return listRecords(records, formats, size, count);
    });
}

int32_t VCI_Enum_Frame_Sizes(VCI_HANDLE handle, const _VCI_PIXEL_FORMAT* format, _VCI_FRAME_SIZE* sizes,
                             uint32_t* size, uint32_t* count)
{
    if (!format) return ZI_ERR_INVALID_ARG;
    return withCamera(handle, [&](V4l2Camera& camera) { return listRecords(camera.sizes(fourcc(*format)), sizes, size, count); });
}

int32_t VCI_Enum_Frame_Intervals(VCI_HANDLE handle, const _VCI_PIXEL_FORMAT* format, const _VCI_FRAME_SIZE* frameSize,
                                 _VCI_FRAME_INTERVAL* intervals, uint32_t* size, uint32_t* count)
{
    if (!format || !frameSize) return ZI_ERR_INVALID_ARG;
    return withCamera(handle, [&](V4l2Camera& camera) {
        std::vector<_VCI_FRAME_INTERVAL> records;
        for (uint32_t units : camera.intervals(fourcc(*format), frameSize->width, frameSize->height))
            records.push_back({units, 0});
        return listRecords(records, intervals, size, count);
    });
}

int32_t VCI_Set_Capture_Parameters(VCI_HANDLE handle, const _VCI_CAPTURE_PARAMETERS* parameters)
{
    if (!parameters) return ZI_ERR_INVALID_ARG;
    return withCamera(handle, [&](V4l2Camera& camera) { return camera.setCaptureParameters(*parameters); });
}

int32_t VCI_Start_Capture(VCI_HANDLE handle, uint32_t)
{
    return withCamera(handle, [&](V4l2Camera& camera) { return camera.startCapture(); });
}

int32_t VCI_Stop_Capture(VCI_HANDLE handle, uint32_t)
{
    // An unplugged camera still stops.
    auto camera = library().camera(handle);
    return camera ? camera->stopCapture() : ZI_ERR_INVALID_HANDLE;
}

int32_t VCI_Get_Property(VCI_HANDLE handle, PropertyQuery query, const PropertySet* set, const uint32_t* propertyID,
                         void* value, uint32_t* size, uint32_t, uint32_t)
{
    if (!set || !propertyID || !value || !size) return ZI_ERR_INVALID_ARG;
    return withCamera(handle, [&](V4l2Camera& camera) { return camera.getProperty(query, *set, *propertyID, value, size); });
}

int32_t VCI_Set_Property(VCI_HANDLE handle, const PropertySet* set, const uint32_t* propertyID, const void* value,
                         uint32_t* size, uint32_t, uint32_t)
{
    if (!set || !propertyID || !value || !size) return ZI_ERR_INVALID_ARG;
    return withCamera(handle, [&](V4l2Camera& camera) { return camera.setProperty(*set, *propertyID, value, size); });
}

int32_t VCI_Enum_Property_Sets(VCI_HANDLE handle, PropertySet* sets, uint32_t* size, uint32_t* count)
{
    return withCamera(handle, [&](V4l2Camera& camera) { return listRecords(camera.propertySets(), sets, size, count); });
}

int32_t VCI_Enum_Property_Items(VCI_HANDLE handle, const PropertySet* set, uint32_t* ids, uint32_t* size,
                                uint32_t* count)
{
    if (!set) return ZI_ERR_INVALID_ARG;
    return withCamera(handle, [&](V4l2Camera& camera) {
        std::vector<uint32_t> items;
        const int32_t result = camera.propertyItems(*set, items);
        return result != ZI_OK ? result : listRecords(items, ids, size, count);
    });
}

int32_t ACI_Enum_Wave_Formats(ACI_HANDLE handle, _ACI_WAVE_FORMAT* formats, uint32_t* size, uint32_t* count)
{
    return withMicrophone(handle, [&](PipeWireMicrophone& mic) { return listRecords(mic.waveFormats(), formats, size, count); });
}

int32_t ACI_Set_Capture_Parameters(ACI_HANDLE handle, const _ACI_WAVE_FORMAT* format)
{
    if (!format) return ZI_ERR_INVALID_ARG;
    return withMicrophone(handle, [&](PipeWireMicrophone& mic) { return mic.setCaptureParameters(*format); });
}

int32_t ACI_Start_Capture(ACI_HANDLE handle)
{
    return withMicrophone(handle, [&](PipeWireMicrophone& mic) { return mic.startCapture(); });
}

int32_t ACI_Stop_Capture(ACI_HANDLE handle)
{
    return withMicrophone(handle, [&](PipeWireMicrophone& mic) { return mic.stopCapture(); });
}

int32_t ACI_Get_Mic_Mute(ACI_HANDLE handle, uint8_t* mute)
{
    if (!mute) return ZI_ERR_INVALID_ARG;
    return withMicrophone(handle, [&](PipeWireMicrophone& mic) { return mic.mute(mute); });
}

int32_t ACI_Set_Mic_Mute(ACI_HANDLE handle, uint8_t mute)
{
    return withMicrophone(handle, [&](PipeWireMicrophone& mic) { return mic.setMute(mute); });
}

int32_t ACI_Get_Mic_Volume(ACI_HANDLE handle, uint32_t* volume)
{
    if (!volume) return ZI_ERR_INVALID_ARG;
    return withMicrophone(handle, [&](PipeWireMicrophone& mic) { return mic.volume(volume); });
}

int32_t ACI_Set_Mic_Volume(ACI_HANDLE handle, uint8_t volume)
{
    return withMicrophone(handle, [&](PipeWireMicrophone& mic) { return mic.setVolume(volume); });
}

namespace {
bool ownsHandle(void* handle)
{
    return library().owns(handle);
}

bool initialised(bool video)
{
    return library().initialised(video);
}
} // namespace

} // namespace zi::sys

namespace zi {
#define ZI_SYS_ENTRY(result, name, parameters, arguments, half) &sys::name,
const Backend kSystemBackend = {ZI_ABI_LIFECYCLE(ZI_SYS_ENTRY) ZI_ABI_FUNCTIONS(ZI_SYS_ENTRY) & sys::VCI_Close_Device,
                                &sys::ownsHandle, &sys::initialised};
#undef ZI_SYS_ENTRY
} // namespace zi
