#include <orva/SMResolutionInfo.h>

#include "catalogue/CatalogueFile.h"

#include <orva/SMXMLReader.h>


namespace orva {

namespace {

// A single element is a table in the reader's tree; the walks want a list.
Value asList(const Value& value)
{
    if (value.isList() || value.isNull()) return value;
    Value one = Value::makeList();
    one.append(value);
    return one;
}

int64_t integerOf(const Value& value)
{
    const Number* n = value.number();
    return n ? n->integerValue() : 0;
}

bool boolOf(const Value& value)
{
    const Number* n = value.number();
    return n ? n->boolValue() : false;
}

bool matchesSize(const Value& resolution, uint32_t width, uint32_t height, bool interpolated)
{
    return integerOf(resolution.get("SelectedWidth")) == static_cast<int64_t>(width) &&
           integerOf(resolution.get("SelectedHeight")) == static_cast<int64_t>(height) &&
           boolOf(resolution.get("Interpolated")) == interpolated;
}

bool hasScheme(const std::string& location)
{
    const size_t colon = location.find("://");
    return colon != std::string::npos && colon > 0 && location.find('/') > colon;
}

} // namespace

SMResolutionInfo::SMResolutionInfo(const std::string& location, uint32_t productID) : mPID(productID), mPath(location)
{
    mResoultionArray = readList(productID);
}

SMResolutionInfo::SMResolutionInfo(const Value& catalogue, uint32_t productID, std::string location)
    : mPID(productID), mResoultionArray(productList(catalogue, productID)), mPath(std::move(location))
{
}

Value SMResolutionInfo::productList(const Value& root, uint32_t productID)
{
    const Value cameras = asList(root.get("Resolutions").get("Camera"));
    for (size_t i = 0; i < cameras.count(); ++i) {
        const Value camera = cameras.at(i);
        if (camera.isNull()) continue;
        if (integerOf(camera.get("PID")) == static_cast<int64_t>(productID)) {
            const Value list = asList(camera.get("Resolution"));
            return list.isNull() ? Value() : list;
        }
    }
    return Value();
}

Value SMResolutionInfo::readList(uint32_t productID) const
{
    if (mPath.empty() || hasScheme(mPath)) return Value();
    return productList(CatalogueFile::read(mPath).root, productID);
}

Value SMResolutionInfo::parsePlist(uint32_t productID)
{
    mPID = productID;
    Value list = readList(productID);
    if (list.isNull()) return Value();
    mResoultionArray = list;
    return list;
}

Value SMResolutionInfo::findResolution(uint32_t productID, uint32_t width, uint32_t height, bool interpolation)
{
    (void)parsePlist(productID);
    for (size_t i = 0; i < mResoultionArray.count(); ++i) {
        const Value resolution = mResoultionArray.at(i);
        if (matchesSize(resolution, width, height, interpolation)) return resolution;
    }
    return Value();
}

bool SMResolutionInfo::isResolutionPresent(const std::string& codec, uint32_t width, uint32_t height,
                                           bool isInterpolated) const
{
    for (size_t i = 0; i < mResoultionArray.count(); ++i) {
        const Value resolution = mResoultionArray.at(i);
        const Value rate = resolution.get("FrameRate");
        if (rate.isTable()) {
            const Value format = rate.get("FMT");
            if (!format.isNull() && !(format.text() && *format.text() == codec)) continue;
        }
        if (matchesSize(resolution, width, height, isInterpolated)) return true;
    }
    return false;
}

bool SMResolutionInfo::isCodecSupported(const std::string& codec) const
{
    for (size_t i = 0; i < mResoultionArray.count(); ++i) {
        const Value format = mResoultionArray.at(i).get("FrameRate").get("FMT");
        if (format.text() && *format.text() == codec) return true;
    }
    return false;
}

int16_t SMResolutionInfo::getResolutionCount(uint32_t* count) const
{
    if (!mResoultionArray.isList()) return -1;
    if (count) *count = static_cast<uint32_t>(mResoultionArray.count());
    return 0;
}

Value SMResolutionInfo::getResolutionArrayAtIndex(uint32_t index) const
{
    return mResoultionArray.at(index);
}

} // namespace orva
