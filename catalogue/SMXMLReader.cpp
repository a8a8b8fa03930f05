#include <orva/SMXMLReader.h>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SystemLog.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <string_view>

namespace orva {

namespace {

constexpr std::array<std::string_view, 12> kIntegerNames = {
    "DisplayedWidth", "DisplayedHeight", "SelectedHeight", "SelectedWidth", "StillHeight", "StillName",
    "StillWidth",     "StreamingWidth",  "StreamingHeight", "VideoName",    "FrameRate",   "Bitrate"};
constexpr std::array<std::string_view, 9> kBooleanNames = {
    "Interpolated", "MotionDefault", "MotionSupported", "StillDefault",  "StillOnly",
    "StillSupported", "VideoDefault", "VideoPostProcess", "VideoSupported"};

template <size_t N>
bool contains(const std::array<std::string_view, N>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// White space and line breaks off both ends (ASCII and the Unicode line/paragraph
// separators and no-break space as UTF-8).
std::string trimmed(const std::string& s)
{
    auto trailingUnicode = [&](size_t end) -> size_t { // bytes of a Unicode space ending at end
        if (end >= 2 && static_cast<unsigned char>(s[end - 2]) == 0xC2 &&
            (static_cast<unsigned char>(s[end - 1]) == 0xA0 || static_cast<unsigned char>(s[end - 1]) == 0x85))
            return 2;
        if (end >= 3 && static_cast<unsigned char>(s[end - 3]) == 0xE2 && static_cast<unsigned char>(s[end - 2]) == 0x80 &&
            (static_cast<unsigned char>(s[end - 1]) == 0xA8 || static_cast<unsigned char>(s[end - 1]) == 0xA9))
            return 3;
        return 0;
    };
    auto leadingUnicode = [&](size_t at) -> size_t {
        if (at + 1 < s.size() && static_cast<unsigned char>(s[at]) == 0xC2 &&
            (static_cast<unsigned char>(s[at + 1]) == 0xA0 || static_cast<unsigned char>(s[at + 1]) == 0x85))
            return 2;
        if (at + 2 < s.size() && static_cast<unsigned char>(s[at]) == 0xE2 && static_cast<unsigned char>(s[at + 1]) == 0x80 &&
            (static_cast<unsigned char>(s[at + 2]) == 0xA8 || static_cast<unsigned char>(s[at + 2]) == 0xA9))
            return 3;
        return 0;
    };
    size_t begin = 0, end = s.size();
    for (;;) {
        if (begin < end && isSpace(s[begin])) {
            ++begin;
        } else if (size_t n = leadingUnicode(begin); n && begin + n <= end) {
            begin += n;
        } else {
            break;
        }
    }
    for (;;) {
        if (end > begin && isSpace(s[end - 1])) {
            --end;
        } else if (size_t n = trailingUnicode(end); n && end - n >= begin) {
            end -= n;
        } else {
            break;
        }
    }
    return s.substr(begin, end - begin);
}

// Saturating decimal scan: white space, optional sign, digits.
int64_t scanDecimal(const std::string& text, int64_t low, int64_t high)
{
    size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        const int digit = text[i] - '0';
        if (!negative) {
            value = value > (high - digit) / 10 ? high : value * 10 + digit;
        } else {
            value = value < (low + digit) / 10 ? low : value * 10 - digit;
        }
    }
    return value;
}

} // namespace

int64_t SMXMLReader::integerValue(const std::string& text)
{
    return scanDecimal(text, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
}

int32_t SMXMLReader::intValue(const std::string& text)
{
    return static_cast<int32_t>(
        scanDecimal(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

bool SMXMLReader::boolValue(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && text[i] == '0') ++i;
    if (i == text.size()) return false;
    const char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

int32_t SMXMLReader::hexValue(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    uint64_t value = 0;
    for (; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
        const int digit = std::isdigit(static_cast<unsigned char>(text[i]))
                              ? text[i] - '0'
                              : std::tolower(static_cast<unsigned char>(text[i])) - 'a' + 10;
        value = std::min<uint64_t>(value * 16 + static_cast<uint64_t>(digit), 0xFFFFFFFFull); // saturates
    }
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

Value SMXMLReader::dictionaryForXMLData(const std::string& data, ErrorPlace error)
{
    SMXMLReader reader(error);
    return reader.objectWithData(data);
}

Value SMXMLReader::dictionaryForXMLString(const std::string& text, ErrorPlace error)
{
    return dictionaryForXMLData(text, error);
}

Value SMXMLReader::dictionaryForPath(const std::string& name, ErrorPlace error)
{
    const auto path = Bundle::componentBundle()->pathForResource(name, "xml");
    if (!path) return Value();
    const auto bytes = FileManager::defaultManager().readRegularFile(*path, XMLParser::kMaximumDocumentBytes);
    if (!bytes) return Value();
    return dictionaryForXMLData(*bytes, error);
}

Value SMXMLReader::objectWithData(const std::string& data)
{
    mDictionaryStack.clear();
    mDictionaryStack.push_back(Value::makeTable());
    mTextInProgress.clear();
    if (data.empty()) return Value(); // nothing to read: null, no error
    mElements = 0;
    XMLParser parser(data);
    parser.setDelegate(this);
    const bool ok = parser.parse();
    // One line per document, never one per element or text chunk: a large or hostile
    // document costs the system log nothing more.
    if (ok)
        SystemLog::log("Read an XML document of %zu bytes: %zu elements", data.size(), mElements);
    Value root = mDictionaryStack.front();
    mDictionaryStack.clear();
    mTextInProgress.clear();
    return ok ? root : Value();
}

void SMXMLReader::didStartElement(XMLParser&, const std::string& elementName, const std::string&, const std::string&,
                                  const Attributes& attributes)
{
    Value parent = mDictionaryStack.back();
    Value child = Value::makeTable();
    ++mElements;
    for (const auto& [name, text] : attributes) {
        if (name == "PID")
            child.set(name, Number::numberWithInt(hexValue(text)));
        else
            child.set(name, text);
    }
    Value existing = parent.get(elementName);
    if (existing.isNull()) {
        parent.set(elementName, child);
    } else if (existing.isList()) {
        existing.append(child);
    } else {
        Value list = Value::makeList();
        list.append(existing);
        list.append(child);
        parent.set(elementName, list);
    }
    mDictionaryStack.push_back(child);
}

void SMXMLReader::foundCharacters(XMLParser&, const std::string& characters)
{
    mTextInProgress += trimmed(characters);
}

void SMXMLReader::didEndElement(XMLParser&, const std::string& elementName, const std::string&, const std::string&)
{
    if (mDictionaryStack.size() < 2) return; // never pops the root
    Value element = mDictionaryStack.back();
    mDictionaryStack.pop_back();
    Value parent = mDictionaryStack.back();
    auto parentTable = parent.table();

    if (!mTextInProgress.empty()) {
        if (element.count() != 0) {
            if (elementName == "FrameRate")
                element.set("FrameRate", Number::numberWithInt(intValue(mTextInProgress)));
            else
                element.set("text", mTextInProgress);
        } else {
            Value entry = parent.get(elementName);
            if (entry.isList()) {
                auto list = entry.list();
                if (!list->empty()) list->pop_back();
                list->push_back(Value(mTextInProgress));
            } else {
                parentTable->erase(elementName);
                if (contains(kIntegerNames, elementName))
                    parent.set(elementName, Number::numberWithInteger(integerValue(mTextInProgress)));
                else if (contains(kBooleanNames, elementName))
                    parent.set(elementName, Number::numberWithBool(boolValue(mTextInProgress)));
                else
                    parent.set(elementName, mTextInProgress);
            }
        }
        mTextInProgress.clear();
        return;
    }
    if (element.count() != 0) return;
    // An empty element without attributes leaves no entry. When earlier siblings of
    // the same name made a list, only this element's own item goes.
    Value entry = parent.get(elementName);
    if (entry.isList()) {
        auto list = entry.list();
        if (!list->empty() && list->back().isSameAs(element)) list->pop_back();
    } else {
        parentTable->erase(elementName);
    }
}

void SMXMLReader::parseErrorOccurred(XMLParser& parser, const XMLParseError& error)
{
    if (mErrorPointer) *mErrorPointer = error;
    SystemLog::log("%s: %s", parser.description().c_str(), error.description().c_str());
}

} // namespace orva
