#include <orva/OrvaDeviceInfo.h>

namespace orva {

OrvaDeviceInfo::~OrvaDeviceInfo()
{
    mName.store(nullptr);
    mPath.store(nullptr);
    mProductID = mVendorID = mRevisionID = 0;
    mDeviceType = 0;
}

std::string OrvaDeviceInfo::nameText() const
{
    auto n = name();
    return n ? *n : std::string();
}

bool OrvaDeviceInfo::isEqualToDevice(const OrvaDeviceInfo& other) const
{
    // Paths hold the library's UTF-16 units converted losslessly to UTF-8 (unpaired
    // surrogates included), so equal bytes here are equal units there.
    auto mine = path();
    auto theirs = other.path();
    return mine && theirs && *mine == *theirs;
}

} // namespace orva
