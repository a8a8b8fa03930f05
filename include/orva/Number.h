/// @file
/// A boxed number that keeps its declared kind (signed or unsigned 8/16/32/64 bits,
/// boolean, float, double), the way the platform's number object does. Immutable and
/// a plain value: safe to copy between threads.
#pragma once

#include <orva/OrvaExport.h>

#include <cstdint>
#include <string>

namespace orva {

/// A boxed number with the kind it was made as (the platform's boxed number): a
/// control's value reaches the host with its declared width and signedness.
class ORVA_EXPORT Number {
public:
    /// The kind a number was made as.
    enum class Kind { Bool, Int8, UInt8, Int16, UInt16, Int32, UInt32, Int64, UInt64, Float, Double };

    /// @name Making numbers
    /// One factory per kind.
    ///@{
    static Number numberWithBool(bool v);                  ///< Kind::Bool
    static Number numberWithChar(int8_t v);                ///< Kind::Int8
    static Number numberWithUnsignedChar(uint8_t v);       ///< Kind::UInt8
    static Number numberWithShort(int16_t v);              ///< Kind::Int16
    static Number numberWithUnsignedShort(uint16_t v);     ///< Kind::UInt16
    static Number numberWithInt(int32_t v);                ///< Kind::Int32
    static Number numberWithUnsignedInt(uint32_t v);       ///< Kind::UInt32
    static Number numberWithInteger(int64_t v);            ///< Kind::Int64
    static Number numberWithUnsignedLongLong(uint64_t v);  ///< Kind::UInt64
    static Number numberWithFloat(float v);                ///< Kind::Float
    static Number numberWithDouble(double v);              ///< Kind::Double
    ///@}

    /// The kind the number was made as.
    Kind kind() const { return mKind; }
    /// Whether it was made as a float or a double.
    bool isFloatingPoint() const { return mKind == Kind::Float || mKind == Kind::Double; }

    /// @name Reading
    /// Conversions follow the platform's rules: integers keep their low bits when
    /// narrowed (40000 as a short is -25536), floating point truncates toward zero
    /// (saturating, NaN gives 0), and a boolean is true for any non-zero value.
    ///@{
    int64_t integerValue() const;          ///< as a signed 64-bit integer
    uint64_t unsignedLongLongValue() const; ///< as an unsigned 64-bit integer
    int32_t intValue() const { return static_cast<int32_t>(integerValue()); }          ///< low 32 bits, signed
    uint32_t unsignedIntValue() const { return static_cast<uint32_t>(integerValue()); } ///< low 32 bits
    int16_t shortValue() const { return static_cast<int16_t>(integerValue()); }         ///< low 16 bits, signed
    uint16_t unsignedShortValue() const { return static_cast<uint16_t>(integerValue()); } ///< low 16 bits
    int8_t charValue() const { return static_cast<int8_t>(integerValue()); }            ///< low 8 bits, signed
    uint8_t unsignedCharValue() const { return static_cast<uint8_t>(integerValue()); }  ///< low 8 bits
    bool boolValue() const;     ///< true for any non-zero value
    double doubleValue() const; ///< as a double
    ///@}

    /// "YES"/"NO" style is not used: booleans print as 1 or 0, like the platform.
    std::string description() const;

    /// Equal when the values are equal, whatever the kinds (5 as a short equals 5 as an int).
    bool operator==(const Number& other) const;

private:
    Number(Kind kind, int64_t i, uint64_t u, double d) : mKind(kind), mInt(i), mUInt(u), mDouble(d) {}
    Kind mKind;
    int64_t mInt;
    uint64_t mUInt;
    double mDouble;
};

} // namespace orva
