// Property lists (XML or binary) read into a Value tree: dictionaries become tables,
// arrays lists, strings text, integers, reals and booleans numbers; data and dates
// are left out. Reading is synchronous and thread-safe; malformed input gives null.
#pragma once

#include <orva/Value.h>

#include <optional>
#include <string>

namespace orva {

class PropertyList {
public:
    [[nodiscard]] static std::optional<Value> readFile(const std::string& path);
    [[nodiscard]] static std::optional<Value> fromData(const std::string& bytes);
    // XML form of a tree of tables, lists, text and numbers.
    [[nodiscard]] static std::string toXML(const Value& value);
};

} // namespace orva
