#include <orva/XMLParser.h>

// The system's expat is built with DTD support (which the amplification limits below
// belong to); its header declares them only when told so.
#ifndef XML_DTD
#define XML_DTD 1
#endif
#include <expat.h>

#include <cstdio>
#include <memory>

namespace orva {

std::string XMLParseError::description() const
{
    return "XML parse error " + std::to_string(code) + " at line " + std::to_string(line) + ", column " +
           std::to_string(column) + ": " + message;
}

std::string XMLParser::description() const
{
    char text[48];
    std::snprintf(text, sizeof text, "<XMLParser: %p>", static_cast<const void*>(this));
    return text;
}

void XMLParser::flushText()
{
    if (mPendingText.empty() || mDelegate == nullptr) {
        mPendingText.clear();
        return;
    }
    std::string chunk;
    chunk.swap(mPendingText);
    mDelegate->foundCharacters(*this, chunk);
}

struct XMLParser::Callbacks {
    static void start(void* user, const XML_Char* name, const XML_Char** attributes)
    {
        auto* self = static_cast<XMLParser*>(user);
        if (++self->mDepth > self->mMaximumDepth) {
            self->mTooDeep = true;
            XML_StopParser(static_cast<XML_Parser>(self->mExpat), XML_FALSE);
            return;
        }
        self->flushText();
        XMLParserDelegate::Attributes list;
        for (size_t i = 0; attributes && attributes[i] && attributes[i + 1]; i += 2)
            list.emplace_back(attributes[i], attributes[i + 1]);
        if (self->mDelegate) self->mDelegate->didStartElement(*self, name, std::string(), std::string(), list);
    }
    static void end(void* user, const XML_Char* name)
    {
        auto* self = static_cast<XMLParser*>(user);
        --self->mDepth;
        self->flushText();
        if (self->mDelegate) self->mDelegate->didEndElement(*self, name, std::string(), std::string());
    }
    // expat splits text at newlines, references and buffer ends. A run of plain text
    // is gathered into one chunk; a reference (the input at this event starts with
    // '&') is a chunk of its own, with the text before it flushed first.
    static void text(void* user, const XML_Char* s, int length)
    {
        auto* self = static_cast<XMLParser*>(user);
        auto parser = static_cast<XML_Parser>(self->mExpat);
        int offset = 0, size = 0;
        const char* context = XML_GetInputContext(parser, &offset, &size);
        const bool reference = context != nullptr && offset >= 0 && offset < size && context[offset] == '&';
        if (reference) {
            self->flushText();
            self->mPendingText.assign(s, static_cast<size_t>(length));
            self->flushText();
        } else {
            self->mPendingText.append(s, static_cast<size_t>(length));
        }
    }
};

bool XMLParser::parse()
{
    mError = XMLParseError{};
    mPendingText.clear();
    mDepth = 0;
    mTooDeep = false;
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, decltype(&XML_ParserFree)> parser(XML_ParserCreate(nullptr),
                                                                                      &XML_ParserFree);
    if (!parser) return false;
    mExpat = parser.get();
    if (mData.size() > kMaximumDocumentBytes) {
        mError.code = kErrorTooLarge;
        mError.message = "the document is larger than " + std::to_string(kMaximumDocumentBytes >> 20) + " MB";
        if (mDelegate) mDelegate->parseErrorOccurred(*this, mError);
        mExpat = nullptr;
        return false;
    }
    (void)XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser.get(), kMaximumAmplification);
    (void)XML_SetBillionLaughsAttackProtectionActivationThreshold(parser.get(), 64 * 1024);
    XML_SetUserData(parser.get(), this);
    XML_SetElementHandler(parser.get(), &Callbacks::start, &Callbacks::end);
    XML_SetCharacterDataHandler(parser.get(), &Callbacks::text);

    // Fed in slices so a huge document never needs one int-sized call.
    constexpr size_t kSlice = 1 << 20;
    bool ok = true;
    size_t at = 0;
    do {
        const size_t n = std::min(kSlice, mData.size() - at);
        const bool last = at + n == mData.size();
        if (XML_Parse(parser.get(), mData.data() + at, static_cast<int>(n), last) != XML_STATUS_OK) {
            ok = false;
            break;
        }
        at += n;
    } while (at < mData.size());
    if (ok) flushText();

    if (!ok) {
        mError.code = mTooDeep ? kErrorTooDeep : static_cast<int>(XML_GetErrorCode(parser.get()));
        const XML_LChar* message = XML_ErrorString(XML_GetErrorCode(parser.get()));
        mError.message = mTooDeep ? "elements nested deeper than " + std::to_string(mMaximumDepth)
                                  : (message ? message : "unknown error");
        mError.line = XML_GetCurrentLineNumber(parser.get());
        mError.column = XML_GetCurrentColumnNumber(parser.get());
        mPendingText.clear();
        if (mDelegate) mDelegate->parseErrorOccurred(*this, mError);
    }
    mExpat = nullptr;
    return ok;
}

} // namespace orva
