#include <orva/Value.h>

#include <algorithm>

namespace orva {

Value::Value(std::string text) : mData(std::move(text)) {}
Value::Value(const char* text) : mData(std::string(text ? text : "")) {}
Value::Value(Number number) : mData(number) {}

Value Value::makeTable()
{
    Value v;
    v.mData = std::make_shared<Table>();
    return v;
}

Value Value::makeList()
{
    Value v;
    v.mData = std::make_shared<List>();
    return v;
}

std::shared_ptr<Value::Table> Value::table() const
{
    auto* p = std::get_if<std::shared_ptr<Table>>(&mData);
    return p ? *p : nullptr;
}

std::shared_ptr<Value::List> Value::list() const
{
    auto* p = std::get_if<std::shared_ptr<List>>(&mData);
    return p ? *p : nullptr;
}

const std::string* Value::text() const
{
    return std::get_if<std::string>(&mData);
}

const Number* Value::number() const
{
    return std::get_if<Number>(&mData);
}

Value Value::get(const std::string& key) const
{
    auto t = table();
    if (!t) return {};
    auto it = t->find(key);
    return it == t->end() ? Value() : it->second;
}

void Value::set(const std::string& key, Value value)
{
    if (auto t = table()) (*t)[key] = std::move(value);
}

Value Value::at(size_t index) const
{
    auto l = list();
    if (!l || index >= l->size()) return {};
    return (*l)[index];
}

void Value::append(Value value)
{
    if (auto l = list()) l->push_back(std::move(value));
}

size_t Value::count() const
{
    if (auto t = table()) return t->size();
    if (auto l = list()) return l->size();
    return 0;
}

bool Value::isSameAs(const Value& other) const
{
    if (isTable() || isList() || other.isTable() || other.isList()) {
        if (isTable() && other.isTable()) return table() == other.table();
        if (isList() && other.isList()) return list() == other.list();
        return false;
    }
    if (isNull() || other.isNull()) return isNull() && other.isNull();
    if (isText() && other.isText()) return *text() == *other.text();
    if (isNumber() && other.isNumber()) return *number() == *other.number();
    return false;
}

std::string Value::description(int indent) const
{
    std::string out;
    appendDescription(out, indent);
    return out;
}

// Everything is appended to one string: a child's text is never built apart and
// copied into its parent's, which made deep values quadratic.
void Value::appendDescription(std::string& out, int indent) const
{
    const size_t pad = static_cast<size_t>(std::max(indent, 0)) * 2;
    if (isNull()) {
        out += "null";
    } else if (auto* s = text()) {
        out += '"';
        out += *s;
        out += '"';
    } else if (auto* n = number()) {
        out += n->description();
    } else if (auto t = table()) {
        out += "{\n";
        for (auto& [k, v] : *t) {
            out.append(pad + 2, ' ');
            out += k;
            out += " = ";
            v.appendDescription(out, indent + 1);
            out += ";\n";
        }
        out.append(pad, ' ');
        out += '}';
    } else {
        auto l = list();
        out += "(\n";
        for (size_t i = 0; i < l->size(); ++i) {
            out.append(pad + 2, ' ');
            (*l)[i].appendDescription(out, indent + 1);
            out += i + 1 < l->size() ? ",\n" : "\n";
        }
        out.append(pad, ' ');
        out += ')';
    }
}

} // namespace orva
