/// @file
/// A streaming XML parser over expat that reports a document the way a platform
/// event parser does: element start with its attributes, element end, and text in
/// chunks, where a contiguous run of text is one chunk and each entity or character
/// reference is a chunk of its own. Namespaces are not processed: names are taken as
/// written and the namespace URI and qualified name handed on are empty. A parser is
/// used by one thread; parse() calls the delegate synchronously on that thread.
#pragma once

#include <orva/OrvaExport.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orva {

class XMLParser;

/// Where and why a document is malformed.
struct XMLParseError {
    int code = 0; ///< expat's error code
    std::string message; ///< expat's text for it
    uint64_t line = 0; ///< 1-based
    uint64_t column = 0; ///< 0-based, in bytes
    /// "XML parse error 4 at line 3, column 7: not well-formed (invalid token)"
    std::string description() const;
};

/// What an XMLParser tells as it reads (the platform's event parser delegate).
class ORVA_EXPORT XMLParserDelegate {
public:
    using Attributes = std::vector<std::pair<std::string, std::string>>; ///< in document order

    virtual ~XMLParserDelegate() = default;
    /// An element starts (namespaces are not processed: the URI is empty).
    virtual void didStartElement(XMLParser& parser, const std::string& elementName, const std::string& namespaceURI,
                                 const std::string& qualifiedName, const Attributes& attributes) = 0;
    /// An element ends.
    virtual void didEndElement(XMLParser& parser, const std::string& elementName, const std::string& namespaceURI,
                               const std::string& qualifiedName) = 0;
    /// A run of text, or one entity or character reference, between element events.
    virtual void foundCharacters(XMLParser& parser, const std::string& characters) = 0;
    /// Called once, when the document turns out malformed; parse() then answers false.
    virtual void parseErrorOccurred(XMLParser& parser, const XMLParseError& error) = 0;
};

/// A streaming XML parser over expat that tells its delegate what it reads.
class ORVA_EXPORT XMLParser {
public:
    /// A parser of the document's bytes.
    explicit XMLParser(std::string data) : mData(std::move(data)) {}
    /// The delegate of the next parse() (not owned).
    void setDelegate(XMLParserDelegate* delegate) { mDelegate = delegate; }
    /// Parses the whole document; false when it is malformed (or empty).
    bool parse();
    /// Elements nested deeper than this end the parse with an error (code
    /// kErrorTooDeep), so a hostile document cannot make its readers recurse without
    /// bound. Default 1000.
    void setMaximumDepth(size_t depth) { mMaximumDepth = depth; }
    /// The error code of a document nested too deeply.
    static constexpr int kErrorTooDeep = -1;
    /// Documents larger than this are refused before parsing (error kErrorTooLarge).
    static constexpr size_t kMaximumDocumentBytes = 16u << 20;
    /// The error code of a document larger than kMaximumDocumentBytes.
    static constexpr int kErrorTooLarge = -2;
    /// Entities may expand a document to at most this many times its size (once the
    /// expansion passes 64 KB): a few hundred bytes of nested entity declarations
    /// cannot make the parser produce gigabytes.
    static constexpr float kMaximumAmplification = 10.0f;
    /// The error of the last parse() that answered false.
    const XMLParseError& parserError() const { return mError; }
    /// "<XMLParser: 0x…>", as the object prints in logs.
    std::string description() const;

    /// Called by the expat callbacks.
    struct Callbacks;

private:
    void flushText();
    std::string mData;
    XMLParserDelegate* mDelegate = nullptr;
    XMLParseError mError;
    std::string mPendingText;
    void* mExpat = nullptr; ///< the XML_Parser during parse()
    size_t mDepth = 0;
    size_t mMaximumDepth = 1000;
    bool mTooDeep = false;
};

} // namespace orva
