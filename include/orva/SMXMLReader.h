/// @file
/// Turns an XML document into a tree of tables, lists, text and numbers. Element
/// names of the resolution catalogue have their text converted to integers or
/// booleans; everything else stays text. Repeated element names under one parent
/// become a list; a name that occurs once is a table (or a value), never a list of one.
///
/// Threads: a reader is used by one thread for one parse at a time; the class
/// operations make their own reader per call, so calls on different threads are
/// independent. Each document read logs one line on the system log. Documents are
/// bounded: at most XMLParser::kMaximumDocumentBytes, nested at most 1000 deep, and
/// entity expansion limited (see XMLParser).
#pragma once

#include <orva/OrvaExport.h>

#include <orva/Value.h>
#include <orva/XMLParser.h>

#include <optional>
#include <string>
#include <vector>

namespace orva {

/// Reads an XML document into a Value tree by the catalogue's rules.
class ORVA_EXPORT SMXMLReader : public XMLParserDelegate {
public:
    /// Where a parse error is stored (may be null).
    using ErrorPlace = std::optional<XMLParseError>*;

    ///@{
    /// The root table (holding the document element's entry), or null when the bytes
    /// are empty or malformed; a parse error is stored in *error when error is given.
    static Value dictionaryForXMLData(const std::string& data, ErrorPlace error);
    static Value dictionaryForXMLString(const std::string& text, ErrorPlace error);
    ///@}
    /// The resource `name`.xml of the component's own resource folder; null when there
    /// is no such resource (no error stored).
    static Value dictionaryForPath(const std::string& name, ErrorPlace error);

    /// A reader that stores a parse error at `error`.
    explicit SMXMLReader(ErrorPlace error) : mErrorPointer(error) {}
    /// The root table of the document, or null (see dictionaryForXMLData()).
    Value objectWithData(const std::string& data);

    void didStartElement(XMLParser& parser, const std::string& elementName, const std::string& namespaceURI,
                         const std::string& qualifiedName, const Attributes& attributes) override;
    void didEndElement(XMLParser& parser, const std::string& elementName, const std::string& namespaceURI,
                       const std::string& qualifiedName) override;
    void foundCharacters(XMLParser& parser, const std::string& characters) override;
    void parseErrorOccurred(XMLParser& parser, const XMLParseError& error) override;

    ///@{
    /// The conversions the reader applies (exposed for the catalogue and tests).
    static int64_t integerValue(const std::string& text);
    static int32_t intValue(const std::string& text);
    static bool boolValue(const std::string& text);
    static int32_t hexValue(const std::string& text);
    ///@}

private:
    std::vector<Value> mDictionaryStack;
    size_t mElements = 0;
    std::string mTextInProgress;
    ErrorPlace mErrorPointer = nullptr;
};

} // namespace orva
