#include "os/qr.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace tillbay::os::qr {

Result<std::string> png(Matrix const& matrix, int module_pixels, int margin)
{
    if (matrix.size <= 0 || matrix.modules.size() != static_cast<size_t>(matrix.size) * static_cast<size_t>(matrix.size)
        || module_pixels <= 0 || margin < 0)
        return Error::with_message(text::failed, "qr png: bad matrix or scale");
    long long modules = static_cast<long long>(matrix.size) + 2ll * margin;
    long long side = modules * module_pixels;
    if (side > max_png_side)
        return Error::with_message(text::picture_too_large, "qr png: " + std::to_string(side) + " pixels");

    auto side_pixels = static_cast<int>(side);
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, side_pixels, side_pixels);
    if (!pixbuf)
        return Error::with_message(text::failed, "qr png: no memory for the picture");
    gdk_pixbuf_fill(pixbuf, 0xFFFFFFFFu);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    for (int y = 0; y < matrix.size; ++y) {
        for (int x = 0; x < matrix.size; ++x) {
            if (!matrix.dark(x, y))
                continue;
            int left = (x + margin) * module_pixels;
            int top = (y + margin) * module_pixels;
            for (int row = top; row < top + module_pixels; ++row) {
                guchar* p = pixels + static_cast<size_t>(row) * static_cast<size_t>(stride)
                    + static_cast<size_t>(left) * 3;
                std::fill(p, p + static_cast<size_t>(module_pixels) * 3, 0);
            }
        }
    }
    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    gboolean saved = gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "png", &error, "compression", "9", nullptr);
    g_object_unref(pixbuf);
    if (!saved) {
        std::string detail = error ? error->message : "unknown";
        g_clear_error(&error);
        return Error::with_message(text::failed, "qr png: " + detail);
    }
    std::string out(buffer, size);
    g_free(buffer);
    return out;
}

} // namespace tillbay::os::qr
