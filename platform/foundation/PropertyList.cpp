#include "platform/foundation/PropertyList.h"

#include <plist/plist.h>

#include <cstdlib>
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
        char* s = nullptr;
        plist_get_string_val(node, &s);
        Value v(s ? s : "");
        std::free(s);
        return v;
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

} // namespace

std::optional<Value> PropertyList::fromData(const std::string& bytes)
{
    if (bytes.empty() || bytes.size() > kMaxPropertyListBytes) return std::nullopt;
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
