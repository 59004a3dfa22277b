#include "os/qr.h"

#include <cerrno>
#include <memory>
#include <qrencode.h>

namespace tillbay::os::qr {

namespace {

QRecLevel library_level(Level level)
{
    switch (level) {
    case Level::Low:
        return QR_ECLEVEL_L;
    case Level::Medium:
        return QR_ECLEVEL_M;
    case Level::Quartile:
        return QR_ECLEVEL_Q;
    case Level::High:
        return QR_ECLEVEL_H;
    }
    return QR_ECLEVEL_M;
}

struct CodeDeleter {
    void operator()(QRcode* code) const { QRcode_free(code); }
};

} // namespace

Result<Matrix> encode(std::string_view text, Level level)
{
    if (text.empty())
        return Error::with_message(text::empty_text, "qr: empty text");
    if (text.find('\0') != std::string_view::npos)
        return Error::with_message(text::failed, "qr: text holds a NUL");
    if (text.size() > max_text_bytes)
        return Error::with_message(text::too_long, "qr: " + std::to_string(text.size()) + " bytes");
    std::string owned(text);
    // Version 0 picks the smallest version that fits; case-sensitive byte mode
    // keeps every character as it is while digits and capitals may still use
    // the denser modes.
    errno = 0;
    std::unique_ptr<QRcode, CodeDeleter> code(
        QRcode_encodeString(owned.c_str(), 0, library_level(level), QR_MODE_8, 1));
    if (!code) {
        int saved = errno;
        return Error::with_message(saved == ERANGE ? text::too_long : text::failed,
            "qr: libqrencode failed, errno " + std::to_string(saved), saved);
    }
    Matrix matrix;
    matrix.size = code->width;
    auto count = static_cast<size_t>(code->width) * static_cast<size_t>(code->width);
    matrix.modules.resize(count);
    for (size_t i = 0; i < count; ++i)
        matrix.modules[i] = code->data[i] & 1;
    return matrix;
}

} // namespace tillbay::os::qr
