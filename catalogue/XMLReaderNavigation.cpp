#include "catalogue/XMLReaderNavigation.h"

#include <orva/SMXMLReader.h>

namespace orva {

Value retrieveForPath(const Value& table, const std::string& path)
{
    size_t start = 0;
    bool first = true;
    Value current;
    for (;;) {
        const size_t dot = path.find('.', start);
        const std::string component = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (first) {
            current = table.get(component);
            first = false;
        } else if (current.isList()) {
            if (component == "last") {
                current = current.count() ? current.at(current.count() - 1) : Value();
            } else {
                const int32_t n = SMXMLReader::intValue(component);
                current = n >= 0 && static_cast<size_t>(n) < current.count() ? current.at(static_cast<size_t>(n)) : Value();
            }
        } else if (current.isTable()) {
            current = current.get(component);
        } else {
            current = Value(); // past a leaf, or already null
        }
        if (dot == std::string::npos) return current;
        start = dot + 1;
    }
}

} // namespace orva
