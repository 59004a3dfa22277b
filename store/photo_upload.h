#pragma once

// A photo on its way to the platform's photo service: straightened and
// shrunk into a temporary JPEG (os/image.h), sent as a multipart form to the
// web host's upload path, and checked with a HEAD request at the address the
// service gave it. Blocking: the files worker runs it.

#include "base/result.h"
#include "store/file_family.h"

#include <string>
#include <string_view>

namespace tillbay::store {

inline constexpr char const* photo_upload_path = "/contractphoto/index.php";
inline constexpr char const* photo_stored_path = "/contractphoto/upload/";
inline constexpr char const* photo_boundary = "----tillbay7f3c9a21";
inline constexpr long long max_upload_bytes = 10ll * 1024 * 1024;
inline constexpr int photo_timeout_ms = 20'000;
// The longest stored name taken from the service's answer.
inline constexpr size_t max_stored_name = 255;
// The longest preview handed to a page.
inline constexpr size_t max_thumb_bytes = 24'000;

struct PhotoJob {
    std::string source;    // the picked file
    std::string base_name; // the name the photo is uploaded under, without ".jpg"
    long long max_bytes = 0; // above 0: the picked file may be at most this large
    bool want_thumb = false;
};

struct UploadedPhoto {
    std::string url;
    std::string thumb; // "data:image/jpeg;base64,..." when asked for and small enough
};

// A name for the multipart filename and the stored file: letters, digits,
// "-", "_" and "." kept, every other byte "_" (and a "." after a "."), at
// most 100 bytes, never beginning with ".".
std::string safe_photo_base(std::string_view name);
// Whether a stored name from the service may go into a URL and a path:
// 1 to 255 letters, digits, "-", "_", "."; not beginning with "."; no "..".
bool is_safe_stored_name(std::string_view name);
// The multipart body of the upload.
std::string photo_multipart_body(std::string_view base_name, std::string_view jpeg);

Result<UploadedPhoto> upload_photo(PhotoJob const& job, FileHooks& hooks);

} // namespace tillbay::store
