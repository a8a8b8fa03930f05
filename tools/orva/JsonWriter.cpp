#include "JsonWriter.h"

#include <cmath>

namespace cli {

JsonWriter::~JsonWriter()
{
    std::fputc('\n', mTo);
    std::fflush(mTo);
}

void JsonWriter::newline()
{
    if (mCompact) return;
    std::fputc('\n', mTo);
    for (size_t i = 0; i < mFirst.size(); ++i) std::fputs("  ", mTo);
}

void JsonWriter::beforeValue()
{
    if (mAfterKey) {
        mAfterKey = false;
        return;
    }
    if (mFirst.empty()) return;
    if (!mFirst.back()) std::fputc(',', mTo);
    mFirst.back() = false;
    newline();
}

JsonWriter& JsonWriter::beginObject()
{
    beforeValue();
    std::fputc('{', mTo);
    mFirst.push_back(true);
    return *this;
}

void JsonWriter::close(char bracket)
{
    const bool empty = mFirst.back();
    mFirst.pop_back();
    if (!empty) newline();
    std::fputc(bracket, mTo);
}

JsonWriter& JsonWriter::endObject()
{
    close('}');
    return *this;
}

JsonWriter& JsonWriter::beginArray()
{
    beforeValue();
    std::fputc('[', mTo);
    mFirst.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::endArray()
{
    close(']');
    return *this;
}

JsonWriter& JsonWriter::key(const std::string& name)
{
    beforeValue();
    writeString(name);
    std::fputs(mCompact ? ":" : ": ", mTo);
    mAfterKey = true;
    return *this;
}

JsonWriter& JsonWriter::value(const std::string& text)
{
    beforeValue();
    writeString(text);
    return *this;
}

void JsonWriter::writeString(const std::string& text)
{
    std::string escaped = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': escaped += "\\\""; break;
        case '\\': escaped += "\\\\"; break;
        case '\n': escaped += "\\n"; break;
        case '\r': escaped += "\\r"; break;
        case '\t': escaped += "\\t"; break;
        default:
            if (c < 0x20) {
                char u[8];
                std::snprintf(u, sizeof u, "\\u%04x", c);
                escaped += u;
            } else {
                escaped += static_cast<char>(c);
            }
        }
    }
    escaped += '"';
    std::fputs(escaped.c_str(), mTo);
}

JsonWriter& JsonWriter::value(int64_t number)
{
    beforeValue();
    std::fprintf(mTo, "%lld", static_cast<long long>(number));
    return *this;
}

JsonWriter& JsonWriter::value(double number)
{
    beforeValue();
    if (std::isfinite(number))
        std::fprintf(mTo, "%.10g", number);
    else
        std::fputs("null", mTo);
    return *this;
}

JsonWriter& JsonWriter::value(bool flag)
{
    beforeValue();
    std::fputs(flag ? "true" : "false", mTo);
    return *this;
}

JsonWriter& JsonWriter::null()
{
    beforeValue();
    std::fputs("null", mTo);
    return *this;
}

} // namespace cli
