// A colour in device RGB with alpha, components from 0 to 1. Plain value; any thread.
#pragma once

namespace orva {

struct Color {
    double red = 0, green = 0, blue = 0, alpha = 1;

    static Color colorWithDeviceRed(double red, double green, double blue, double alpha)
    {
        return {red, green, blue, alpha};
    }
    bool operator==(const Color&) const = default;
};

} // namespace orva
