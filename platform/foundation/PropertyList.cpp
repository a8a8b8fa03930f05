#include "platform/foundation/PropertyList.h"

#include <plist/plist.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

namespace orva {

namespace {

constexpr size_t kMaxPropertyListBytes = 16 * 1024 * 1024;
constexpr int kMaxDepth = 512;

Value convert(plist_t node, int depth)
{
    if (node == nullptr || depth > kMaxDepth) return {};
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return Number::numberWithBool(b != 0);
    }
    case PLIST_UINT: {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        return u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? Number::numberWithUnsignedLongLong(u)
                                                                               : Number::numberWithInteger(static_cast<int64_t>(u));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return Number::numberWithDouble(d);
    }
    case PLIST_STRING: {
        // plist_get_string_val asserts (aborting the host) on a string holding a NUL,
        // which a file can: the text is taken up to its first NUL, as a C string.
        uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        return Value(s ? std::string(s, ::strnlen(s, static_cast<size_t>(length))) : std::string());
    }
    case PLIST_ARRAY: {
        Value list = Value::makeList();
        const uint32_t n = plist_array_get_size(node);
        for (uint32_t i = 0; i < n; ++i) {
            Value item = convert(plist_array_get_item(node, i), depth + 1);
            if (!item.isNull()) list.append(item);
        }
        return list;
    }
    case PLIST_DICT: {
        Value table = Value::makeTable();
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (!it) return table;
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, it, &key, &item);
            if (!item) {
                std::free(key);
                break;
            }
            Value v = convert(item, depth + 1);
            if (key && !v.isNull()) table.set(key, v);
            std::free(key);
        }
        std::free(it);
        return table;
    }
    default:
        return {};
    }
}

plist_t toNode(const Value& v)
{
    if (auto* s = v.text()) return plist_new_string(s->c_str());
    if (auto* n = v.number()) {
        if (n->kind() == Number::Kind::Bool) return plist_new_bool(n->boolValue());
        if (n->isFloatingPoint()) return plist_new_real(n->doubleValue());
        return plist_new_uint(n->unsignedLongLongValue());
    }
    if (auto t = v.table()) {
        plist_t dict = plist_new_dict();
        for (auto& [k, item] : *t)
            if (plist_t child = toNode(item)) plist_dict_set_item(dict, k.c_str(), child);
        return dict;
    }
    if (auto l = v.list()) {
        plist_t array = plist_new_array();
        for (auto& item : *l)
            if (plist_t child = toNode(item)) plist_array_append_item(array, child);
        return array;
    }
    return nullptr;
}

uint64_t bigEndian(const unsigned char* p, size_t n)
{
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// libplist's accessors abort the process (an assertion) on a string or dictionary
// key that holds a NUL, and nothing in its interface reads such a key safely. A file
// that could hold one is refused before libplist parses it: in XML form any NUL byte
// or a character reference to NUL; in binary form any string object with a NUL (the
// object table is walked within bounds; a table that does not fit is refused too).
bool mayHoldNul(const std::string& bytes)
{
    if (bytes.rfind("bplist00", 0) != 0) {
        if (bytes.find('\0') != std::string::npos) return true;
        for (size_t at = bytes.find("&#"); at != std::string::npos; at = bytes.find("&#", at + 2)) {
            size_t i = at + 2;
            const bool hex = i < bytes.size() && (bytes[i] == 'x' || bytes[i] == 'X');
            if (hex) ++i;
            while (i < bytes.size() && bytes[i] == '0') ++i;
            if (i < bytes.size() && bytes[i] == ';' && i > at + 2 + (hex ? 1 : 0)) return true;
        }
        return false;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    if (size < 8 + 32) return true;
    const unsigned char* trailer = b + size - 32;
    const size_t offsetSize = trailer[6];
    const uint64_t objects = bigEndian(trailer + 8, 8), table = bigEndian(trailer + 24, 8);
    if (offsetSize == 0 || offsetSize > 8 || table >= size || objects > (size - table) / offsetSize) return true;
    for (uint64_t k = 0; k < objects; ++k) {
        const uint64_t at = bigEndian(b + table + k * offsetSize, offsetSize);
        if (at < 8 || at >= size - 32) return true;
        const unsigned type = b[at] >> 4;
        if (type != 0x5 && type != 0x6 && type != 0x7) continue; // not a string
        uint64_t count = b[at] & 0x0F, start = at + 1;
        if (count == 0x0F) { // the length follows as an integer object
            if (start >= size || (b[start] >> 4) != 0x1) return true;
            const size_t n = size_t{1} << (b[start] & 0x0F);
            if (n > 8 || start + 1 + n > size) return true;
            count = bigEndian(b + start + 1, n);
            start += 1 + n;
        }
        const uint64_t unit = type == 0x6 ? 2 : 1;
        if (count > size || start + count * unit > size) return true;
        for (uint64_t i = 0; i < count; ++i) {
            const bool zero = unit == 2 ? (b[start + 2 * i] == 0 && b[start + 2 * i + 1] == 0) : b[start + i] == 0;
            if (zero) return true;
        }
    }
    return false;
}

} // namespace

std::optional<Value> PropertyList::fromData(const std::string& bytes)
{
    if (bytes.empty() || bytes.size() > kMaxPropertyListBytes || mayHoldNul(bytes)) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (root == nullptr) return std::nullopt;
    Value v = convert(root, 0);
    plist_free(root);
    if (v.isNull()) return std::nullopt;
    return v;
}

std::optional<Value> PropertyList::readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        bytes.append(chunk, static_cast<size_t>(in.gcount()));
        if (bytes.size() > kMaxPropertyListBytes) return std::nullopt;
    }
    return fromData(bytes);
}

std::string PropertyList::toXML(const Value& value)
{
    plist_t node = toNode(value);
    if (!node) return {};
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    std::string out(xml ? xml : "", length);
    plist_to_xml_free(xml);
    plist_free(node);
    return out;
}

} // namespace orva
