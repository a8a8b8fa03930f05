#include "Bus.h"
#include "Call.h"
#include "Stream.h"

#include <cstdio>

namespace zi {

std::string ptrArg(const void* p)
{
    return p ? "buf" : "null";
}

std::string fourccText(uint32_t code)
{
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((code >> shift) & 0xFF);
        s += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return s;
}

uint32_t fourccFromPixelFormat(const _VCI_PIXEL_FORMAT& format)
{
    uint32_t code = 0;
    for (int i = 0; i < 4; ++i) code = (code << 8) | (format.fourcc[i] & 0xFF);
    return code;
}

std::string uuidText(const uint8_t* b)
{
    char text[40];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

} // namespace zi

namespace zi {

int32_t stopCapture(void* handle, uint32_t type)
{
    auto& bus = Bus::instance();
    std::shared_ptr<Stream> stream;
    {
        std::lock_guard lock(bus.mutex);
        auto h = bus.handle(handle);
        if (!h || h->device->type != type) return ZI_ERR_INVALID_HANDLE;
        stream = std::move(h->stream);
    }
    if (stream) stream->stop();
    return ZI_OK;
}

} // namespace zi
