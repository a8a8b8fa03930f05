// Drawing into a bitmap in memory with Cairo (the platform's image focus and bitmap
// contexts), in a y-up coordinate space with the origin at the lower left, one unit
// per pixel. Paths are filled and stroked in the current colour; text and images are
// placed by their lower-left corner with their up along +y. The pixels are read back
// as premultiplied RGBA rows from the top. Used by one thread at a time.
#pragma once

#include <orva/AttributedString.h>
#include <orva/BezierPath.h>
#include <orva/Color.h>
#include "platform/graphics/ImageReader.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orva {

class BitmapContext {
public:
    // Null for an empty or absurd size. All pixels start transparent.
    static std::unique_ptr<BitmapContext> create(int width, int height);
    ~BitmapContext();
    BitmapContext(const BitmapContext&) = delete;
    BitmapContext& operator=(const BitmapContext&) = delete;

    int width() const { return mWidth; }
    int height() const { return mHeight; }

    void saveGState();
    void restoreGState();
    void translate(double x, double y);
    void scale(double x, double y);
    void setShouldAntialias(bool antialias);
    void setColor(const Color& color);
    void fillPath(const BezierPath& path);
    void strokePath(const BezierPath& path, double lineWidth);
    // The string with its logical rectangle's lower-left at `point`, in the string's
    // colour or, without one, the current colour.
    void drawAttributedString(const AttributedString& string, Point point);
    // The image scaled into `rect`, its top row along the rect's top; `copy` replaces
    // the pixels underneath instead of blending over them.
    void drawImage(const Image& image, const Rect& rect, bool copy);

    // Premultiplied RGBA, rows from the top.
    std::vector<uint8_t> premultipliedRGBA() const;
    // Each pixel as the 32-bit word R, G, B, A from the most significant byte, stored
    // little-endian (so its bytes are A, B, G, R), premultiplied, rows from the top.
    std::vector<uint8_t> premultipliedABGR() const;

    // Writes RGBA rows from the top (not premultiplied) as a PNG; false on failure.
    static bool writePNG(const std::string& path, const std::vector<uint8_t>& rgba, int width, int height);

private:
    BitmapContext() = default;
    void applyPath(const BezierPath& path);
    void* mSurface = nullptr; // cairo_surface_t*
    void* mCairo = nullptr;   // cairo_t*
    int mWidth = 0, mHeight = 0;
    Color mColor{0, 0, 0, 1};
};

} // namespace orva
