#pragma once

// Photos the owner uploads: decoded, turned upright from their EXIF
// orientation, scaled down with a high-quality filter, laid over white where
// they are transparent, and saved as JPEG; small previews for the pickers.
// Sizes are checked before anything is decoded, so a huge or hostile file
// never reaches the decoder.

#include "base/result.h"
#include "os/fs.h"

#include <cstddef>
#include <string>

namespace tillbay::os::image {

// The largest picture file read, and the largest picture decoded: a 108
// megapixel phone photo passes, a decompression bomb does not.
inline constexpr long long max_file_bytes = 64ll * 1024 * 1024;
inline constexpr int max_side_pixels = 16'384;
inline constexpr long long max_pixels = 120'000'000;

// A prepared photo fits in this many pixels each way, at this JPEG quality.
inline constexpr int photo_max_side = 1280;
inline constexpr int photo_quality = 85;
// Previews: the longer side, the JPEG quality.
inline constexpr int preview_side = 96;
inline constexpr int preview_quality = 70;

namespace text {
inline constexpr char const* cannot_open = "사진 파일을 열지 못했습니다";
inline constexpr char const* file_too_large = "사진 파일이 너무 큽니다 (64MB 까지)";
inline constexpr char const* too_many_pixels = "사진의 화소가 너무 많습니다 — 더 작은 사진을 골라 주십시오";
inline constexpr char const* not_a_picture = "이 파일은 사진으로 읽지 못했습니다 — 다른 사진을 골라 주십시오";
inline constexpr char const* cannot_encode = "사진을 JPEG 로 만들지 못했습니다";
inline constexpr char const* cannot_write = "사진을 임시 폴더에 쓰지 못했습니다";
} // namespace text

// A prepared photo in a temporary JPEG file of its own (a unique name in the
// user's temporary folder); the file is deleted when this goes.
struct PreparedPhoto {
    TempFile file;
    int width = 0;
    int height = 0;
    long long bytes = 0;
};

// Reads a JPEG, PNG, GIF, BMP or WebP file, turns it upright, scales it so
// that neither side passes photo_max_side, lays it over white and writes it
// as a JPEG of photo_quality into temp_dir (os::temp_folder() by default).
Result<PreparedPhoto> prepare_photo(std::string const& source, std::string const& temp_dir = temp_folder());

// The picture upright, its longer side preview_side pixels, over white, as a
// JPEG of preview_quality: "data:image/jpeg;base64,...".
Result<std::string> preview_data_url(std::string const& source);

} // namespace tillbay::os::image
