// A media time: a count of units of 1/timescale seconds, as the platform's media
// framework keeps times (value, timescale, flags). Plain value type; any thread.
#pragma once

#include <orva/Value.h>

#include <cstdint>

namespace orva {

struct MediaTime {
    int64_t value = 0;
    int32_t timescale = 0;
    bool valid = false;

    static MediaTime make(int64_t value, int32_t timescale) { return {value, timescale, timescale > 0}; }
    static MediaTime invalid() { return {}; }
    static MediaTime zero() { return make(0, 1); }

    // The sum in the timescale of the first operand (the second converted to it).
    static MediaTime add(const MediaTime& a, const MediaTime& b);
    static MediaTime multiply(const MediaTime& t, int32_t factor);
    // To another timescale, rounding half away from zero.
    static MediaTime convertScale(const MediaTime& t, int32_t timescale);
    double seconds() const { return valid ? static_cast<double>(value) / timescale : 0.0; }
    // {"value", "timescale", "flags" (1 when valid), "epoch" 0}, as a table.
    Value asDictionary() const;
    static MediaTime fromDictionary(const Value& table);

    bool operator==(const MediaTime&) const = default;
};

} // namespace orva
