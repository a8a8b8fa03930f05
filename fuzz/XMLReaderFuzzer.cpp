// Feeds arbitrary bytes to the XML dictionary reader and walks what it returns.
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
    if (!root.isNull()) {
        (void)retrieveForPath(root, "Resolutions.Camera.last.Resolution.0.FrameRate.FMT");
        (void)retrieveForPath(root, bytes.substr(0, 64));
        (void)root.description();
    }
    return 0;
}
