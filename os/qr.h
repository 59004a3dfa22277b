#pragma once

// QR codes: a text becomes a square matrix of dark and light modules, and a
// matrix becomes a PNG picture (table stickers, payment and pairing codes).
// The encoder is a library's, never our own.

#include "base/result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::os::qr {

// How much of the code may be damaged and still read: about 7, 15, 25 and 30
// per cent. Stickers that get scratched or wet want Quartile or High.
enum class Level {
    Low,
    Medium,
    Quartile,
    High,
};

// The longest text a code holds (version 40 at Low in byte mode); less at the
// higher levels. Longer texts fail.
inline constexpr size_t max_text_bytes = 2953;

struct Matrix {
    int size = 0;                 // modules per side, 21 to 177
    std::vector<uint8_t> modules; // size * size, row by row; 1 dark, 0 light

    bool dark(int x, int y) const
    {
        return modules[static_cast<size_t>(y) * static_cast<size_t>(size) + static_cast<size_t>(x)] != 0;
    }
};

namespace text {
inline constexpr char const* empty_text = "QR 코드에 담을 내용이 없습니다";
inline constexpr char const* too_long = "QR 코드에 담기에는 내용이 너무 깁니다";
inline constexpr char const* failed = "QR 코드를 만들지 못했습니다";
inline constexpr char const* picture_too_large = "QR 그림이 너무 큽니다";
} // namespace text

// The smallest code that holds the text (UTF-8 bytes, byte mode where needed)
// at the level asked. Empty texts, texts with a NUL and texts too long for
// any version fail with the messages above.
Result<Matrix> encode(std::string_view text, Level level);

// The widest PNG picture drawn, in pixels per side.
inline constexpr int max_png_side = 4096;
// The light border a reader needs around the code, in modules.
inline constexpr int quiet_zone = 4;

// A PNG picture of the matrix: black modules on white, module_pixels pixels
// per module, with margin light modules around it. Fails with
// text::picture_too_large beyond max_png_side.
Result<std::string> png(Matrix const& matrix, int module_pixels, int margin = quiet_zone);

} // namespace tillbay::os::qr
