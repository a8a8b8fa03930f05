// Feeds arbitrary bytes to the property-list reader (XML and binary, through
// libplist) as the device-names table and other resources are read, then writes the
// tree it made back as XML and reads that again: it must come back the same.
#include "platform/foundation/PropertyList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace orva;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto value = PropertyList::fromData(std::string(reinterpret_cast<const char*>(data), size));
    if (!value) return 0;
    const std::string xml = PropertyList::toXML(*value);
    const auto again = PropertyList::fromData(xml);
    if (!again || PropertyList::toXML(*again) != xml) std::abort(); // what it writes, it reads
    return 0;
}
