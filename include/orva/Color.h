/// @file
/// A colour in device RGB with alpha, components from 0 to 1. Plain value; any thread.
#pragma once

namespace orva {

/// A colour: red, green, blue and opacity, each from 0 to 1.
struct Color {
    double red = 0;   ///< red, 0 to 1
    double green = 0; ///< green, 0 to 1
    double blue = 0;  ///< blue, 0 to 1
    double alpha = 1; ///< opacity, 0 (transparent) to 1 (opaque)

    /// A colour of the four components.
    static Color colorWithDeviceRed(double red, double green, double blue, double alpha)
    {
        return {red, green, blue, alpha};
    }
    /// Equal when every component is.
    bool operator==(const Color&) const = default;
};

} // namespace orva
