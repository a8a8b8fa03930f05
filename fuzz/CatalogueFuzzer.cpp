// Feeds arbitrary bytes to the catalogue reader (the XML dictionary reader, then the
// product lookups a host makes) and walks what it returns.
#include <orva/SMResolutionInfo.h>
#include <orva/SMXMLReader.h>
#include "catalogue/XMLReaderNavigation.h"
#include "platform/foundation/SystemLog.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace orva;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        SystemLog::setEchoToStandardError(false);
        return true;
    }();
    (void)quiet;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::optional<XMLParseError> error;
    const Value root = SMXMLReader::dictionaryForXMLData(bytes, &error);
    if (error) (void)error->description();
    if (root.isNull()) return 0;
    (void)retrieveForPath(root, "Resolutions.Camera.last.Resolution.0.FrameRate.FMT");
    (void)retrieveForPath(root, bytes.substr(0, 64));
    (void)root.description();
    // The product ids a catalogue names, and one it may not.
    for (uint32_t pid : {0x7E01u, 0x01A2u, static_cast<uint32_t>(size & 0xFFFF)}) {
        const SMResolutionInfo info(root, pid);
        uint32_t count = 0;
        if (info.getResolutionCount(&count) == 0)
            for (uint32_t i = 0; i < count && i < 64; ++i) (void)info.getResolutionArrayAtIndex(i).description();
        (void)info.isResolutionPresent("H264", 1280, 720, false);
        (void)info.isResolutionPresent("YUV", 640, 480, true);
        (void)info.isCodecSupported("H264");
    }
    return 0;
}
