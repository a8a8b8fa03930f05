// One journaled library call: checks fault injection first, then records
// "name(arguments) -> result" when the call returns.
#pragma once

#include "Bus.h"

#include <string>

namespace zi {

class Call {
public:
    Call(const char* name, std::string arguments) : mName(name), mArguments(std::move(arguments)) {}
    std::optional<int32_t> injected() { return Bus::instance().injected(mName); }
    int32_t result(int32_t status)
    {
        Bus::instance().journal(std::string(mName) + "(" + mArguments + ") -> " + std::to_string(status));
        return status;
    }
    void* handleResult(void* handle, const std::string& text)
    {
        Bus::instance().journal(std::string(mName) + "(" + mArguments + ") -> " + text);
        return handle;
    }

private:
    const char* mName;
    std::string mArguments;
};

inline std::string u32Arg(const uint32_t* p)
{
    return p ? std::to_string(*p) : "null";
}

} // namespace zi

namespace zi {

// Runs `body` on the handle's device with the bus mutex held; answers
// ZI_ERR_INVALID_HANDLE for an unknown handle and ZI_ERR_NO_DEVICE for an unplugged one.
template <typename Body>
int32_t withDevice(void* handle, uint32_t type, Body body)
{
    auto& bus = Bus::instance();
    std::lock_guard lock(bus.mutex);
    auto h = bus.handle(handle);
    if (!h || h->device->type != type) return ZI_ERR_INVALID_HANDLE;
    if (!h->device->plugged) return ZI_ERR_NO_DEVICE;
    return body(*h->device);
}

// Takes the handle's running capture away (a device that was unplugged meanwhile
// still stops) and stops it outside the bus lock; ZI_ERR_INVALID_HANDLE for a handle
// that is unknown or of the other kind.
int32_t stopCapture(void* handle, uint32_t type);

inline std::string handleArg(void* handle)
{
    auto& bus = Bus::instance();
    std::lock_guard lock(bus.mutex);
    return bus.handleName(handle);
}

} // namespace zi
