/// @file
/// Which frame sizes, frame rates and codecs one camera product offers, from a
/// resolution catalogue (an XML file the host gives). The object keeps the product's
/// list of resolution tables; construction from a path, parsePlist and findResolution
/// look the file up again (it is parsed once per process while unchanged; only
/// regular files of at most 16 MB are read), the other queries use the kept list. A catalogue whose single Camera or
/// single Resolution the reader turns into a table (not a list) is read as a list of
/// one. Used by one thread at a time; file reads block.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/Value.h>

#include <cstdint>
#include <string>

namespace orva {

/// Answers what a product's catalogue entry lists: sizes, frame rates, codecs.
class ORVA_EXPORT SMResolutionInfo {
public:
    /// `location` is the catalogue's location text, used as a file path; one that
    /// begins with a scheme ("file://…") is no file path and reads nothing. The object
    /// is always made, with or without a list.
    SMResolutionInfo(const std::string& location, uint32_t productID);
    /// The product's list from a catalogue already read (SMXMLReader's tree), so that a
    /// host asking about many products reads the file once. parsePlist and
    /// findResolution read `location` when given.
    SMResolutionInfo(const Value& catalogue, uint32_t productID, std::string location = {});

    /// Reads the file again for `productID` (which becomes current); on a match the
    /// product's list replaces the kept one and is returned, else null (kept list stays).
    Value parsePlist(uint32_t productID);
    /// parsePlist, then the first resolution of that size and interpolation (any codec).
    Value findResolution(uint32_t productID, uint32_t width, uint32_t height, bool interpolation);
    /// A resolution of that size and interpolation whose FrameRate names this codec
    /// (or names none).
    bool isResolutionPresent(const std::string& codec, uint32_t width, uint32_t height, bool isInterpolated) const;
    /// Whether any resolution's FrameRate names this codec.
    bool isCodecSupported(const std::string& codec) const;
    /// 0 with the count stored, or -1 (nothing stored) when there is no list.
    [[nodiscard]] int16_t getResolutionCount(uint32_t* count) const;
    /// The resolution table at index; null with no list or an index past the end.
    Value getResolutionArrayAtIndex(uint32_t index) const;

    /// The product looked up.
    uint32_t productID() const { return mPID; }
    /// Chooses another product.
    void setProductID(uint32_t productID) { mPID = productID; }
    /// The catalogue file's path.
    const std::string& path() const { return mPath; }

private:
    Value readList(uint32_t productID) const;
    static Value productList(const Value& catalogue, uint32_t productID);

    uint32_t mPID;
    Value mResoultionArray; ///< a list, or null
    std::string mPath;
};

} // namespace orva
