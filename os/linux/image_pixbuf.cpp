#include "os/image.h"

#include <cerrno>
#include <cmath>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <memory>
#include <string_view>

namespace tillbay::os::image {

namespace {

struct ObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, ObjectDeleter>;
using Loader = std::unique_ptr<GdkPixbufLoader, ObjectDeleter>;

std::string take_message(GError*& error)
{
    std::string message = error ? error->message : "unknown";
    g_clear_error(&error);
    return message;
}

// The loader for the file's own signature. Only these formats are decoded:
// the pickers offer JPEG and PNG, and phones and web pages also hand out GIF,
// BMP and WebP; every other loader GdkPixbuf may carry (SVG, TIFF, ICO, XPM,
// ...) stays out of reach of a file someone else made.
char const* loader_type(std::string_view bytes)
{
    if (bytes.starts_with("\xFF\xD8\xFF"))
        return "jpeg";
    if (bytes.starts_with("\x89PNG\r\n\x1A\n"))
        return "png";
    if (bytes.starts_with("GIF87a") || bytes.starts_with("GIF89a"))
        return "gif";
    if (bytes.starts_with("BM"))
        return "bmp";
    if (bytes.size() >= 12 && bytes.starts_with("RIFF") && bytes.substr(8, 4) == "WEBP")
        return "webp";
    return nullptr;
}

struct SizeCheck {
    bool too_large = false;
};

// Runs once the decoder knows the picture's size and before it allocates the
// picture: a size of 0 x 0 makes the decoder stop with an error.
void on_size_prepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data)
{
    auto* check = static_cast<SizeCheck*>(data);
    if (width <= 0 || height <= 0 || width > max_side_pixels || height > max_side_pixels
        || static_cast<long long>(width) * height > max_pixels) {
        check->too_large = true;
        gdk_pixbuf_loader_set_size(loader, 0, 0);
    }
}

// The picture decoded and turned upright by its EXIF orientation.
Result<Pixbuf> load_upright(std::string const& path)
{
    long long size = file_size(path);
    if (size < 0)
        return Error::with_message(text::cannot_open, "image: cannot examine " + path, errno);
    if (size > max_file_bytes)
        return Error::with_message(text::file_too_large, "image: " + path + " has " + std::to_string(size) + " bytes");
    auto bytes = read_file(path, static_cast<size_t>(max_file_bytes));
    if (!bytes) {
        auto error = bytes.release_error();
        bool too_large = error.code == EFBIG;
        return Error::with_message(too_large ? text::file_too_large : text::cannot_open, error.detail, error.code);
    }
    std::string_view data = bytes.value();
    char const* type = loader_type(data);
    if (!type)
        return Error::with_message(text::not_a_picture, "image: unknown signature in " + path);

    GError* error = nullptr;
    Loader loader(gdk_pixbuf_loader_new_with_type(type, &error));
    if (!loader)
        return Error::with_message(
            text::not_a_picture, "image: no " + std::string(type) + " loader: " + take_message(error));
    SizeCheck check;
    g_signal_connect(loader.get(), "size-prepared", G_CALLBACK(on_size_prepared), &check);
    auto const* pixels = reinterpret_cast<guchar const*>(data.data());
    bool written = gdk_pixbuf_loader_write(loader.get(), pixels, data.size(), &error);
    std::string detail = written ? std::string() : take_message(error);
    bool closed = gdk_pixbuf_loader_close(loader.get(), written ? &error : nullptr);
    if (written && !closed)
        detail = take_message(error);
    if (check.too_large)
        return Error::with_message(text::too_many_pixels, "image: " + path + " has too many pixels");
    GdkPixbuf* decoded = gdk_pixbuf_loader_get_pixbuf(loader.get());
    if (!written || !closed || !decoded)
        return Error::with_message(
            text::not_a_picture, "image: " + path + ": " + (detail.empty() ? "no picture" : detail));
    // The orientation option comes from the JPEG's EXIF block; pictures
    // without one come back as they are (a new reference either way).
    Pixbuf upright(gdk_pixbuf_apply_embedded_orientation(decoded));
    if (!upright)
        return Error::with_message(text::not_a_picture, "image: cannot turn " + path);
    return upright;
}

// The picture scaled to width x height with the hyperbolic filter and laid
// over white, as an RGB picture without alpha.
Result<Pixbuf> over_white(GdkPixbuf* source, int width, int height)
{
    Pixbuf target(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height));
    if (!target)
        return Error::with_message(text::cannot_encode, "image: no memory for the scaled picture");
    gdk_pixbuf_fill(target.get(), 0xFFFFFFFFu);
    double scale_x = static_cast<double>(width) / gdk_pixbuf_get_width(source);
    double scale_y = static_cast<double>(height) / gdk_pixbuf_get_height(source);
    gdk_pixbuf_composite(source, target.get(), 0, 0, width, height, 0, 0, scale_x, scale_y, GDK_INTERP_HYPER, 255);
    return target;
}

Result<std::string> jpeg(GdkPixbuf* picture, int quality)
{
    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    std::string quality_text = std::to_string(quality);
    if (!gdk_pixbuf_save_to_buffer(picture, &buffer, &size, "jpeg", &error, "quality", quality_text.c_str(), nullptr))
        return Error::with_message(text::cannot_encode, "image: jpeg: " + take_message(error));
    std::string out(buffer, size);
    g_free(buffer);
    return out;
}

// The size that fits the longer side to side pixels, keeping the proportions
// (at least one pixel each way).
std::pair<int, int> fitted(int width, int height, int side)
{
    double scale = static_cast<double>(side) / std::max(width, height);
    return { std::max(1, static_cast<int>(std::lround(width * scale))),
        std::max(1, static_cast<int>(std::lround(height * scale))) };
}

} // namespace

Result<PreparedPhoto> prepare_photo(std::string const& source, std::string const& temp_dir)
{
    auto picture = TRY(load_upright(source));
    int width = gdk_pixbuf_get_width(picture.get());
    int height = gdk_pixbuf_get_height(picture.get());
    if (width > photo_max_side || height > photo_max_side)
        std::tie(width, height) = fitted(width, height, photo_max_side);
    auto flat = TRY(over_white(picture.get(), width, height));
    picture.reset();
    auto bytes = TRY(jpeg(flat.get(), photo_quality));
    auto file = TempFile::create(temp_dir, "tillbay_photo_", ".jpg", bytes);
    if (!file) {
        auto error = file.release_error();
        return Error::with_message(text::cannot_write, error.detail, error.code);
    }
    return PreparedPhoto { file.release_value(), width, height, static_cast<long long>(bytes.size()) };
}

Result<std::string> preview_data_url(std::string const& source)
{
    auto picture = TRY(load_upright(source));
    int source_width = gdk_pixbuf_get_width(picture.get());
    int source_height = gdk_pixbuf_get_height(picture.get());
    auto [width, height] = fitted(source_width, source_height, preview_side);
    auto flat = TRY(over_white(picture.get(), width, height));
    auto bytes = TRY(jpeg(flat.get(), preview_quality));
    gchar* encoded = g_base64_encode(reinterpret_cast<guchar const*>(bytes.data()), bytes.size());
    std::string url = "data:image/jpeg;base64,";
    url.append(encoded);
    g_free(encoded);
    return url;
}

} // namespace tillbay::os::image
