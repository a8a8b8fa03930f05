#include "platform/graphics/ImageReader.h"

#include "platform/foundation/FileManager.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>

namespace orva {

namespace {

// Told the image's size before its pixels are decoded: a picture larger than the
// limit is given a size of nothing, so gdk-pixbuf allocates no pixels for it, and is
// refused.
struct SizeCheck {
    int width = 0, height = 0;
    bool tooLarge = false;

    static void prepared(GdkPixbufLoader* loader, int width, int height, gpointer self)
    {
        auto* check = static_cast<SizeCheck*>(self);
        check->width = width;
        check->height = height;
        if (width > ImageReader::kMaximumSide || height > ImageReader::kMaximumSide) {
            check->tooLarge = true;
            gdk_pixbuf_loader_set_size(loader, 0, 0); // as gdk-pixbuf itself does to stop at the header
        }
    }
};

} // namespace

std::optional<Image> ImageReader::read(const std::string& path, std::string* error)
{
    auto fail = [&](std::string reason) -> std::optional<Image> {
        if (error) *error = std::move(reason);
        return std::nullopt;
    };
    std::string reason;
    const auto bytes = FileManager::defaultManager().readRegularFile(path, kMaximumFileBytes, &reason);
    if (!bytes) return fail(reason);

    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    SizeCheck check;
    g_signal_connect(loader, "size-prepared", G_CALLBACK(&SizeCheck::prepared), &check);
    GError* gerror = nullptr;
    // Fed in slices, so a picture refused at its header is not decoded further.
    constexpr size_t kSlice = 64 * 1024;
    bool fed = true;
    for (size_t at = 0; at < bytes->size() && fed && !check.tooLarge; at += kSlice) {
        const size_t n = std::min(kSlice, bytes->size() - at);
        fed = gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(bytes->data() + at), n, &gerror);
    }
    const bool closed = gdk_pixbuf_loader_close(loader, fed && !check.tooLarge ? &gerror : nullptr);
    GdkPixbuf* pixbuf = fed && closed && !check.tooLarge ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (pixbuf) g_object_ref(pixbuf);
    g_object_unref(loader);
    if (check.tooLarge) {
        if (gerror) g_error_free(gerror);
        if (pixbuf) g_object_unref(pixbuf);
        return fail("the image is " + std::to_string(check.width) + "x" + std::to_string(check.height) +
                    " pixels, larger than " + std::to_string(kMaximumSide) + "x" + std::to_string(kMaximumSide));
    }
    if (!pixbuf) {
        reason = gerror ? gerror->message : "cannot read the image";
        if (gerror) g_error_free(gerror);
        return fail(reason);
    }
    if (gerror) g_error_free(gerror);

    Image image;
    image.width = gdk_pixbuf_get_width(pixbuf);
    image.height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf), stride = gdk_pixbuf_get_rowstride(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || channels < 3 || image.width <= 0 || image.height <= 0) {
        g_object_unref(pixbuf);
        return fail("unsupported pixel layout");
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
