/// @file
/// Text with font and colour attributes (the platform's attributed string), measured
/// and drawn with Pango at one pixel per point (72 dpi). Plain value; any thread.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/BezierPath.h>
#include <orva/Color.h>

#include <optional>
#include <string>

namespace orva {

/// How text looks.
struct TextAttributes {
    std::string fontFamily = "DejaVu Sans"; ///< the font's family name
    double fontSize = 12; ///< points
    bool bold = false;    ///< bold weight
    std::optional<Color> foregroundColor; ///< none: the current colour
};

/// A text with the attributes it is drawn with.
class ORVA_EXPORT AttributedString {
public:
    /// No text.
    AttributedString() = default;
    /// The text (UTF-8) with its attributes.
    AttributedString(std::string text, TextAttributes attributes = {})
        : mText(std::move(text)), mAttributes(std::move(attributes))
    {
    }
    /// The text.
    const std::string& string() const { return mText; }
    /// Its attributes.
    const TextAttributes& attributes() const { return mAttributes; }
    /// The laid-out text's extent in points (its logical rectangle).
    Size size() const;

    /// A PangoLayout for a cairo context (owned by the caller); for BitmapContext.
    void* createLayout(void* cairoContext) const;

private:
    std::string mText;
    TextAttributes mAttributes;
};

} // namespace orva
