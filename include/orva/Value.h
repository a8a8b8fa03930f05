/// @file
/// A tree of tables, lists, text and numbers (what the platform's dictionaries and
/// arrays carry). Tables and lists have reference semantics: copies of a Value share
/// the same table or list, so changing it through one copy is seen through all. A
/// Value is not synchronised; share it between threads only when nobody changes it.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/Number.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace orva {

/// A tree value: null, text, a Number, a table (text keys) or a list. Tables and lists
/// are shared by reference, as the platform's dictionaries and arrays: copying a Value
/// that holds one copies the reference.
class ORVA_EXPORT Value {
public:
    using Table = std::map<std::string, Value>; ///< a table's entries
    using List = std::vector<Value>;            ///< a list's entries

    Value() = default; ///< null
    Value(std::string text); ///< NOLINT(google-explicit-constructor)
    Value(const char* text); ///< NOLINT(google-explicit-constructor)
    Value(Number number); ///< NOLINT(google-explicit-constructor)
    static Value makeTable(); ///< a new, empty table
    static Value makeList();  ///< a new, empty list

    bool isNull() const { return std::holds_alternative<std::monostate>(mData); }              ///< null
    bool isTable() const { return std::holds_alternative<std::shared_ptr<Table>>(mData); }     ///< a table
    bool isList() const { return std::holds_alternative<std::shared_ptr<List>>(mData); }       ///< a list
    bool isText() const { return std::holds_alternative<std::string>(mData); }                 ///< text
    bool isNumber() const { return std::holds_alternative<Number>(mData); }                    ///< a number

    ///@{
    /// Null when the Value is of another kind. The pointers point into this Value:
    /// hold the Value (not a temporary from get() or at()) while using them.
    std::shared_ptr<Table> table() const;
    std::shared_ptr<List> list() const;
    const std::string* text() const;
    const Number* number() const;
    ///@}

    ///@{
    /// Table access: null for a missing key or a Value that is not a table.
    Value get(const std::string& key) const;
    void set(const std::string& key, Value value); ///< no effect unless a table
    ///@}
    ///@{
    /// List access: null out of range or when not a list.
    Value at(size_t index) const;
    void append(Value value); ///< no effect unless a list
    ///@}
    /// Entries of a table or list, 0 otherwise.
    size_t count() const;

    /// Same object for tables and lists, equal contents otherwise.
    bool isSameAs(const Value& other) const;

    /// A readable, indented rendering for logs and the CLI; its cost is linear in the
    /// text it makes, however deep the value.
    std::string description(int indent = 0) const;

private:
    void appendDescription(std::string& out, int indent) const;
    std::variant<std::monostate, std::string, Number, std::shared_ptr<Table>, std::shared_ptr<List>> mData;
};

} // namespace orva
