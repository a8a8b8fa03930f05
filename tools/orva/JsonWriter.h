// Writes one JSON document, indented, as the --json output of the commands: objects
// and arrays opened and closed in order, keys before values inside objects. Strings
// are escaped; numbers that are not finite are written as null.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace cli {

class JsonWriter {
public:
    // `compact` writes the document on one line (a line per tick of a stream).
    explicit JsonWriter(FILE* to, bool compact = false) : mTo(to), mCompact(compact) {}
    ~JsonWriter();

    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(const std::string& name);
    JsonWriter& value(const std::string& text);
    JsonWriter& value(const char* text) { return value(std::string(text)); }
    JsonWriter& value(int64_t number);
    JsonWriter& value(int number) { return value(static_cast<int64_t>(number)); }
    JsonWriter& value(uint32_t number) { return value(static_cast<int64_t>(number)); }
    JsonWriter& value(uint64_t number) { return value(static_cast<int64_t>(number)); }
    JsonWriter& value(double number);
    JsonWriter& value(bool flag);
    JsonWriter& null();
    template <typename T>
    JsonWriter& value(const std::optional<T>& v)
    {
        return v ? value(*v) : null();
    }
    // key(name).value(v) in one.
    template <typename T>
    JsonWriter& field(const std::string& name, const T& v)
    {
        return key(name).value(v);
    }

private:
    void beforeValue();
    void newline();
    void close(char bracket);
    void writeString(const std::string& text);

    FILE* mTo;
    bool mCompact;
    std::vector<bool> mFirst; // per open container: nothing written in it yet
    bool mAfterKey = false;
};

} // namespace cli
