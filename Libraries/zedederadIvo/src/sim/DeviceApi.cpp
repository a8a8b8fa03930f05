// Library start, device listing, opening and closing, events.
#include "Call.h"
#include "Stream.h"

#include <cstring>

using namespace zi;

namespace {

int32_t enumDevices(const char* name, uint32_t type, bool video, _VCI_DEVICE_ENTRY* entries, uint32_t* size,
                    uint32_t* count)
{
    Call call(name, "entries=" + ptrArg(entries) + ", size=" + u32Arg(size) + ", count=" + u32Arg(count));
    if (auto r = call.injected()) return call.result(*r);
    auto& bus = Bus::instance();
    if (!bus.initialised(video)) return call.result(ZI_ERR_NOT_INITIALIZED);
    std::vector<_VCI_DEVICE_ENTRY> records;
    {
        std::lock_guard lock(bus.mutex);
        for (auto& d : bus.devicesOfType(type)) {
            _VCI_DEVICE_ENTRY e{};
            std::memcpy(e.path, d->rawPath.data(), sizeof e.path);
            std::memcpy(e.name, d->rawName.data(), sizeof e.name);
            e.vendorID = d->vendorID;
            e.productID = d->productID;
            e.revision = d->revision;
            records.push_back(e);
        }
    }
    return call.result(listRecords(records, entries, size, count));
}

void* openDevice(const char* name, uint32_t type, bool video, const uint16_t* path)
{
    const std::string text = path ? utf16ToUtf8(path, ZI_DEVICE_TEXT_UNITS) : std::string();
    Call call(name, path ? "path=\"" + text + "\"" : "path=null");
    if (auto r = call.injected()) return call.handleResult(nullptr, "null (injected " + std::to_string(*r) + ")");
    auto& bus = Bus::instance();
    if (!bus.initialised(video) || path == nullptr) return call.handleResult(nullptr, "null");
    void* handle = nullptr;
    std::string handleText = "null";
    {
        std::lock_guard lock(bus.mutex);
        auto device = bus.findDevice(text);
        if (device && device->type == type) {
            handle = bus.openHandle(device);
            handleText = bus.handleName(handle);
        }
    }
    return call.handleResult(handle, handleText);
}

std::string callbackArgs(void* handle, uint32_t event, bool hasCallback, void* context)
{
    return "handle=" + handleArg(handle) + ", event=" + std::to_string(event) +
           ", callback=" + (hasCallback ? "set" : "null") + ", context=" + (context ? "set" : "null");
}

} // namespace

namespace zi::sim {

int32_t VCI_Init(void)
{
    Call call("VCI_Init", "");
    if (auto r = call.injected()) return call.result(*r);
    return call.result(Bus::instance().init(true));
}

int32_t ACI_Init(void)
{
    Call call("ACI_Init", "");
    if (auto r = call.injected()) return call.result(*r);
    return call.result(Bus::instance().init(false));
}

int32_t VCI_Cleanup(void)
{
    Call call("VCI_Cleanup", "");
    if (auto r = call.injected()) return call.result(*r);
    return call.result(Bus::instance().cleanup(true));
}

int32_t ACI_Cleanup(void)
{
    Call call("ACI_Cleanup", "");
    if (auto r = call.injected()) return call.result(*r);
    return call.result(Bus::instance().cleanup(false));
}

int32_t VCI_Enum_Devices(_VCI_DEVICE_ENTRY* entries, uint32_t* size, uint32_t* count)
{
    return enumDevices("VCI_Enum_Devices", ZISIM_CAMERA, true, entries, size, count);
}

int32_t ACI_Enum_Devices(_VCI_DEVICE_ENTRY* entries, uint32_t* size, uint32_t* count)
{
    return enumDevices("ACI_Enum_Devices", ZISIM_MICROPHONE, false, entries, size, count);
}

VCI_HANDLE VCI_Open_Device(const uint16_t* path)
{
    return openDevice("VCI_Open_Device", ZISIM_CAMERA, true, path);
}

ACI_HANDLE ACI_Open_Device(const uint16_t* path)
{
    return openDevice("ACI_Open_Device", ZISIM_MICROPHONE, false, path);
}

int32_t VCI_Close_Device(void* handle)
{
    Call call("VCI_Close_Device", "handle=" + handleArg(handle));
    if (auto r = call.injected()) return call.result(*r);
    auto& bus = Bus::instance();
    int32_t status = ZI_OK;
    std::shared_ptr<Stream> stream;
    {
        std::lock_guard lock(bus.mutex);
        status = bus.closeHandle(handle, stream);
    }
    if (stream) stream->stop();
    return call.result(status);
}

int32_t VCI_Subscribe_Event(VCI_HANDLE handle, uint32_t event, VCI_EVENT_CALLBACK callback, void* context)
{
    Call call("VCI_Subscribe_Event", callbackArgs(handle, event, callback != nullptr, context));
    if (auto r = call.injected()) return call.result(*r);
    if (callback == nullptr) return call.result(ZI_ERR_INVALID_ARG);
    return call.result(Bus::instance().subscribe(handle, event, callback, nullptr, context));
}

int32_t VCI_UnSubscribe_Event(VCI_HANDLE handle, uint32_t event)
{
    Call call("VCI_UnSubscribe_Event", "handle=" + handleArg(handle) + ", event=" + std::to_string(event));
    if (auto r = call.injected()) return call.result(*r);
    return call.result(Bus::instance().unsubscribe(handle, event));
}

int32_t ACI_Subscribe_Event(ACI_HANDLE handle, uint32_t event, ACI_EVENT_CALLBACK callback, void* context)
{
    Call call("ACI_Subscribe_Event", callbackArgs(handle, event, callback != nullptr, context));
    if (auto r = call.injected()) return call.result(*r);
    if (callback == nullptr) return call.result(ZI_ERR_INVALID_ARG);
    return call.result(Bus::instance().subscribe(handle, event, nullptr, callback, context));
}

int32_t ACI_UnSubscribe_Event(ACI_HANDLE handle, uint32_t event)
{
    Call call("ACI_UnSubscribe_Event", "handle=" + handleArg(handle) + ", event=" + std::to_string(event));
    if (auto r = call.injected()) return call.result(*r);
    return call.result(Bus::instance().unsubscribe(handle, event));
}

} // namespace zi::sim
