#include "platform/graphics/BitmapContext.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cstring>

namespace orva {

namespace {
cairo_t* cr(void* p)
{
    return static_cast<cairo_t*>(p);
}
// A Cairo image surface holding straight-alpha RGBA rows from the top (premultiplied,
// in Cairo's native word order); null when the surface cannot be made.
cairo_surface_t* surfaceFromRGBA(const std::vector<uint8_t>& rgba, int width, int height)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = rgba.data() + (static_cast<size_t>(y) * width + x) * 4;
            const uint32_t a = p[3];
            const uint32_t word = a << 24 | ((p[0] * a + 127) / 255) << 16 | ((p[1] * a + 127) / 255) << 8 |
                                  ((p[2] * a + 127) / 255);
            std::memcpy(data + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4, &word, 4);
        }
    cairo_surface_mark_dirty(surface);
    return surface;
}

} // namespace

std::unique_ptr<BitmapContext> BitmapContext::create(int width, int height)
{
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return nullptr;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    std::unique_ptr<BitmapContext> context(new BitmapContext);
    context->mSurface = surface;
    context->mCairo = cairo_create(surface);
    context->mWidth = width;
    context->mHeight = height;
    // y up, origin at the lower left.
    cairo_translate(cr(context->mCairo), 0, height);
    cairo_scale(cr(context->mCairo), 1, -1);
    return context;
}

BitmapContext::~BitmapContext()
{
    cairo_destroy(cr(mCairo));
    cairo_surface_destroy(static_cast<cairo_surface_t*>(mSurface));
}

void BitmapContext::saveGState()
{
    cairo_save(cr(mCairo));
}

void BitmapContext::restoreGState()
{
    cairo_restore(cr(mCairo));
}

void BitmapContext::translate(double x, double y)
{
    cairo_translate(cr(mCairo), x, y);
}

void BitmapContext::scale(double x, double y)
{
    cairo_scale(cr(mCairo), x, y);
}

void BitmapContext::setShouldAntialias(bool antialias)
{
    cairo_set_antialias(cr(mCairo), antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}

void BitmapContext::setColor(const Color& color)
{
    mColor = color;
}

void BitmapContext::applyPath(const BezierPath& path)
{
    cairo_new_path(cr(mCairo));
    for (const auto& e : path.elements()) {
        switch (e.type) {
        case BezierPath::ElementType::MoveTo:
            cairo_move_to(cr(mCairo), e.points[0].x, e.points[0].y);
            break;
        case BezierPath::ElementType::LineTo:
            cairo_line_to(cr(mCairo), e.points[0].x, e.points[0].y);
            break;
        case BezierPath::ElementType::CurveTo:
            cairo_curve_to(cr(mCairo), e.points[0].x, e.points[0].y, e.points[1].x, e.points[1].y, e.points[2].x,
                           e.points[2].y);
            break;
        case BezierPath::ElementType::ClosePath:
            cairo_close_path(cr(mCairo));
            break;
        }
    }
}

void BitmapContext::fillPath(const BezierPath& path)
{
    applyPath(path);
    cairo_set_source_rgba(cr(mCairo), mColor.red, mColor.green, mColor.blue, mColor.alpha);
    cairo_fill(cr(mCairo));
}

void BitmapContext::strokePath(const BezierPath& path, double lineWidth)
{
    applyPath(path);
    cairo_set_source_rgba(cr(mCairo), mColor.red, mColor.green, mColor.blue, mColor.alpha);
    cairo_set_line_width(cr(mCairo), lineWidth);
    cairo_stroke(cr(mCairo));
}

void BitmapContext::drawAttributedString(const AttributedString& string, Point point)
{
    cairo_t* c = cr(mCairo);
    cairo_save(c);
    auto* layout = static_cast<PangoLayout*>(string.createLayout(c));
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    // Pango lays text out downwards from its top-left; the text's up is +y here.
    cairo_translate(c, point.x, point.y + h);
    cairo_scale(c, 1, -1);
    pango_cairo_update_layout(c, layout);
    const Color color = string.attributes().foregroundColor.value_or(mColor);
    cairo_set_source_rgba(c, color.red, color.green, color.blue, color.alpha);
    cairo_move_to(c, 0, 0);
    pango_cairo_show_layout(c, layout);
    g_object_unref(layout);
    cairo_restore(c);
}

void BitmapContext::drawImage(const Image& image, const Rect& rect, bool copy)
{
    if (image.width <= 0 || image.height <= 0 || rect.size.width <= 0 || rect.size.height <= 0) return;
    if (image.rgba.size() < static_cast<size_t>(image.width) * image.height * 4) return;
    cairo_surface_t* source = surfaceFromRGBA(image.rgba, image.width, image.height);
    if (!source) return;
    cairo_t* c = cr(mCairo);
    cairo_save(c);
    cairo_translate(c, rect.origin.x, rect.origin.y + rect.size.height);
    cairo_scale(c, rect.size.width / image.width, -rect.size.height / image.height);
    cairo_set_source_surface(c, source, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(c), CAIRO_FILTER_NEAREST);
    cairo_set_operator(c, copy ? CAIRO_OPERATOR_SOURCE : CAIRO_OPERATOR_OVER);
    cairo_rectangle(c, 0, 0, image.width, image.height);
    cairo_fill(c);
    cairo_restore(c);
    cairo_surface_destroy(source);
}

std::vector<uint8_t> BitmapContext::premultipliedRGBA() const
{
    auto* surface = static_cast<cairo_surface_t*>(mSurface);
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    std::vector<uint8_t> out(static_cast<size_t>(mWidth) * mHeight * 4);
    for (int y = 0; y < mHeight; ++y)
        for (int x = 0; x < mWidth; ++x) {
            uint32_t word;
            std::memcpy(&word, data + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4, 4);
            uint8_t* q = out.data() + (static_cast<size_t>(y) * mWidth + x) * 4;
            q[0] = static_cast<uint8_t>(word >> 16);
            q[1] = static_cast<uint8_t>(word >> 8);
            q[2] = static_cast<uint8_t>(word);
            q[3] = static_cast<uint8_t>(word >> 24);
        }
    return out;
}

std::vector<uint8_t> BitmapContext::premultipliedABGR() const
{
    std::vector<uint8_t> out = premultipliedRGBA();
    for (size_t i = 0; i + 3 < out.size(); i += 4) {
        const uint8_t r = out[i], g = out[i + 1], b = out[i + 2], a = out[i + 3];
        out[i] = a;
        out[i + 1] = b;
        out[i + 2] = g;
        out[i + 3] = r;
    }
    return out;
}

bool BitmapContext::writePNG(const std::string& path, const std::vector<uint8_t>& rgba, int width, int height)
{
    if (width <= 0 || height <= 0 || rgba.size() < static_cast<size_t>(width) * height * 4) return false;
    cairo_surface_t* surface = surfaceFromRGBA(rgba, width, height);
    if (!surface) return false;
    const bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok;
}

} // namespace orva
