#include "platform/media/MediaTime.h"

namespace orva {

namespace {

// value × to / from, rounded half away from zero, in 128-bit arithmetic.
int64_t rescale(int64_t value, int64_t to, int64_t from)
{
    const __int128 product = static_cast<__int128>(value) * to;
    const __int128 half = from / 2;
    const __int128 q = product >= 0 ? (product + half) / from : (product - half) / from;
    return static_cast<int64_t>(q);
}

} // namespace

MediaTime MediaTime::add(const MediaTime& a, const MediaTime& b)
{
    if (!a.valid || !b.valid) return invalid();
    return make(a.value + convertScale(b, a.timescale).value, a.timescale);
}

MediaTime MediaTime::multiply(const MediaTime& t, int32_t factor)
{
    if (!t.valid) return invalid();
    return make(t.value * factor, t.timescale);
}

MediaTime MediaTime::convertScale(const MediaTime& t, int32_t timescale)
{
    if (!t.valid || timescale <= 0) return invalid();
    if (t.timescale == timescale) return t;
    return make(rescale(t.value, timescale, t.timescale), timescale);
}

Value MediaTime::asDictionary() const
{
    Value table = Value::makeTable();
    table.set("value", Number::numberWithInteger(value));
    table.set("timescale", Number::numberWithInt(timescale));
    table.set("flags", Number::numberWithInt(valid ? 1 : 0));
    table.set("epoch", Number::numberWithInteger(0));
    return table;
}

MediaTime MediaTime::fromDictionary(const Value& table)
{
    const Value v = table.get("value"), ts = table.get("timescale"), flags = table.get("flags");
    if (!v.number() || !ts.number() || !flags.number() || !(flags.number()->intValue() & 1)) return invalid();
    return make(v.number()->integerValue(), ts.number()->intValue());
}

} // namespace orva
