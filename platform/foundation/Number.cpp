#include <orva/Number.h>

#include <cmath>
#include <cstdio>
#include <limits>

namespace orva {

namespace {
bool isUnsigned(Number::Kind k)
{
    return k == Number::Kind::UInt8 || k == Number::Kind::UInt16 || k == Number::Kind::UInt32 ||
           k == Number::Kind::UInt64;
}

int64_t saturate(double d)
{
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (d <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
}
} // namespace

#define ORVA_SIGNED(kind, v) Number(kind, static_cast<int64_t>(v), static_cast<uint64_t>(static_cast<int64_t>(v)), static_cast<double>(v))
#define ORVA_UNSIGNED(kind, v) Number(kind, static_cast<int64_t>(v), static_cast<uint64_t>(v), static_cast<double>(v))

Number Number::numberWithBool(bool v) { return ORVA_UNSIGNED(Kind::Bool, v ? 1u : 0u); }
Number Number::numberWithChar(int8_t v) { return ORVA_SIGNED(Kind::Int8, v); }
Number Number::numberWithUnsignedChar(uint8_t v) { return ORVA_UNSIGNED(Kind::UInt8, v); }
Number Number::numberWithShort(int16_t v) { return ORVA_SIGNED(Kind::Int16, v); }
Number Number::numberWithUnsignedShort(uint16_t v) { return ORVA_UNSIGNED(Kind::UInt16, v); }
Number Number::numberWithInt(int32_t v) { return ORVA_SIGNED(Kind::Int32, v); }
Number Number::numberWithUnsignedInt(uint32_t v) { return ORVA_UNSIGNED(Kind::UInt32, v); }
Number Number::numberWithInteger(int64_t v) { return ORVA_SIGNED(Kind::Int64, v); }
Number Number::numberWithUnsignedLongLong(uint64_t v) { return ORVA_UNSIGNED(Kind::UInt64, v); }
Number Number::numberWithFloat(float v) { return Number(Kind::Float, saturate(v), 0, v); }
Number Number::numberWithDouble(double v) { return Number(Kind::Double, saturate(v), 0, v); }

#undef ORVA_SIGNED
#undef ORVA_UNSIGNED

int64_t Number::integerValue() const
{
    return isFloatingPoint() ? saturate(mDouble) : mInt;
}

uint64_t Number::unsignedLongLongValue() const
{
    if (isFloatingPoint()) return static_cast<uint64_t>(saturate(mDouble));
    return mUInt;
}

bool Number::boolValue() const
{
    return isFloatingPoint() ? mDouble != 0.0 : mUInt != 0;
}

double Number::doubleValue() const
{
    if (isFloatingPoint()) return mDouble;
    return isUnsigned(mKind) ? static_cast<double>(mUInt) : static_cast<double>(mInt);
}

std::string Number::description() const
{
    char text[64];
    if (isFloatingPoint())
        std::snprintf(text, sizeof text, "%.17g", mDouble);
    else if (isUnsigned(mKind) || mKind == Kind::Bool)
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(mUInt));
    else
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(mInt));
    return text;
}

bool Number::operator==(const Number& other) const
{
    if (isFloatingPoint() || other.isFloatingPoint()) return doubleValue() == other.doubleValue();
    const bool neg = !isUnsigned(mKind) && mInt < 0;
    const bool otherNeg = !isUnsigned(other.mKind) && other.mInt < 0;
    if (neg != otherNeg) return false;
    return neg ? mInt == other.mInt : mUInt == other.mUInt;
}

} // namespace orva
