#include <orva/AttributedString.h>

#include <cairo.h>
#include <pango/pangocairo.h>

namespace orva {

void* AttributedString::createLayout(void* cairoContext) const
{
    auto* cr = static_cast<cairo_t*>(cairoContext);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_cairo_context_set_resolution(pango_layout_get_context(layout), 72.0); // a point is a pixel
    pango_layout_context_changed(layout);
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, mAttributes.fontFamily.c_str());
    pango_font_description_set_size(font, static_cast<gint>(mAttributes.fontSize * PANGO_SCALE));
    if (mAttributes.bold) pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_text(layout, mText.c_str(), static_cast<int>(mText.size()));
    return layout;
}

Size AttributedString::size() const
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(surface);
    auto* layout = static_cast<PangoLayout*>(createLayout(cr));
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return {static_cast<double>(w), static_cast<double>(h)};
}

} // namespace orva
