#include "platform/graphics/ImageReader.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace orva {

std::optional<Image> ImageReader::read(const std::string& path, std::string* error)
{
    GError* gerror = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &gerror);
    if (!pixbuf) {
        if (error) *error = gerror ? gerror->message : "cannot read the image";
        if (gerror) g_error_free(gerror);
        return std::nullopt;
    }
    Image image;
    image.width = gdk_pixbuf_get_width(pixbuf);
    image.height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf), stride = gdk_pixbuf_get_rowstride(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || channels < 3 || image.width <= 0 || image.height <= 0) {
        if (error) *error = "unsupported pixel layout";
        g_object_unref(pixbuf);
        return std::nullopt;
    }
    const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
    image.rgba.resize(static_cast<size_t>(image.width) * image.height * 4);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const guint8* p = pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * channels;
            uint8_t* q = image.rgba.data() + (static_cast<size_t>(y) * image.width + x) * 4;
            q[0] = p[0];
            q[1] = p[1];
            q[2] = p[2];
            q[3] = alpha ? p[3] : 255;
        }
    g_object_unref(pixbuf);
    return image;
}

} // namespace orva
