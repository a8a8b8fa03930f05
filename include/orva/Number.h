// A boxed number that keeps its declared kind (signed or unsigned 8/16/32/64 bits,
// boolean, float, double), the way the platform's number object does. Immutable and
// a plain value: safe to copy between threads.
#pragma once

#include <orva/OrvaExport.h>

#include <cstdint>
#include <string>

namespace orva {

class ORVA_EXPORT Number {
public:
    enum class Kind { Bool, Int8, UInt8, Int16, UInt16, Int32, UInt32, Int64, UInt64, Float, Double };

    static Number numberWithBool(bool v);
    static Number numberWithChar(int8_t v);
    static Number numberWithUnsignedChar(uint8_t v);
    static Number numberWithShort(int16_t v);
    static Number numberWithUnsignedShort(uint16_t v);
    static Number numberWithInt(int32_t v);
    static Number numberWithUnsignedInt(uint32_t v);
    static Number numberWithInteger(int64_t v);
    static Number numberWithUnsignedLongLong(uint64_t v);
    static Number numberWithFloat(float v);
    static Number numberWithDouble(double v);

    Kind kind() const { return mKind; }
    bool isFloatingPoint() const { return mKind == Kind::Float || mKind == Kind::Double; }

    // Conversions follow the platform's rules: integers keep their low bits when
    // narrowed (40000 as a short is -25536), floating point truncates toward zero
    // (saturating, NaN gives 0), and a boolean is true for any non-zero value.
    int64_t integerValue() const;
    uint64_t unsignedLongLongValue() const;
    int32_t intValue() const { return static_cast<int32_t>(integerValue()); }
    uint32_t unsignedIntValue() const { return static_cast<uint32_t>(integerValue()); }
    int16_t shortValue() const { return static_cast<int16_t>(integerValue()); }
    uint16_t unsignedShortValue() const { return static_cast<uint16_t>(integerValue()); }
    int8_t charValue() const { return static_cast<int8_t>(integerValue()); }
    uint8_t unsignedCharValue() const { return static_cast<uint8_t>(integerValue()); }
    bool boolValue() const;
    double doubleValue() const;

    // "YES"/"NO" style is not used: booleans print as 1 or 0, like the platform.
    std::string description() const;

    // Equal when the values are equal, whatever the kinds (5 as a short equals 5 as an int).
    bool operator==(const Number& other) const;

private:
    Number(Kind kind, int64_t i, uint64_t u, double d) : mKind(kind), mInt(i), mUInt(u), mDouble(d) {}
    Kind mKind;
    int64_t mInt;
    uint64_t mUInt;
    double mDouble;
};

} // namespace orva
