#pragma once

// The two manifests of the update: the version manifest the web host serves
// ("version.json", read with a plain scanner, not a JSON parser) and the text
// manifest of a UI bundle release (".manifest", first line "TWUI1"), with the
// rules every bundle file list must meet before anything is written to disk.

#include "base/result.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::update {

// Limits of the version manifest's fields.
inline constexpr size_t max_ui_version = 63;
inline constexpr size_t max_app_version = 63;
inline constexpr size_t max_app_url = 511;
inline constexpr size_t max_app_sha256 = 79;
inline constexpr size_t max_files = 128;
inline constexpr size_t max_file_name = 95; // a name of 96 bytes or more is refused
// Limits of the bundle store's own files.
inline constexpr size_t max_bundle_manifest = 32767;
inline constexpr size_t max_active_file = 255;
inline constexpr size_t max_install_manifest = 256 * 1024 - 1;

struct VersionManifest {
    std::string ui_version;
    std::vector<std::string> files;
    std::vector<std::string> sha256;
    // False when either array was present but broken; the bundle is then refused.
    bool lists_valid = true;
    std::string app_version;
    std::string app_url;
    std::string app_sha256;
};

VersionManifest scan_version_manifest(std::string_view text);

// The scanner's pieces, for tests and for other readers of the same format.
// A string value: empty when the key is missing; cut at limit.
std::string scan_string(std::string_view text, std::string_view key, size_t limit);
// An array of strings: nullopt when broken; an empty list when the key is missing.
std::optional<std::vector<std::string>> scan_string_array(std::string_view text, std::string_view key, size_t max_entries);

// "a" newer than "b": three decimal numbers, missing parts 0, first number first.
bool version_newer(std::string_view a, std::string_view b);

// A bundle file name as listed ("ui/css/app.css"); returns the local path
// below the release folder ("css/app.css"), or nullopt when the name breaks
// the rule.
std::optional<std::string> local_path_of(std::string_view listed_name);
// A relative path below a bundle folder ("css/app.css"): the segment rule of
// file names, without the "ui/" prefix being dropped.
bool valid_local_path(std::string_view path);
bool valid_ui_version(std::string_view name);
bool valid_hash(std::string_view hex);
bool valid_release_id(std::string_view id);
// Two ids denote the same content when their first 66 characters are equal.
bool same_release_content(std::string_view a, std::string_view b);

struct BundleFile {
    std::string listed_name; // as the version manifest lists it
    std::string local_path;  // below the release folder
    std::string sha256;      // as listed (either case)
};

struct BundleManifest {
    std::string ui_version;
    std::vector<BundleFile> files;
    std::string text;       // the ".manifest" text
    std::string release_id; // "r-" + SHA-256 of text
};

// Checks the list rules and builds the manifest text and the release id.
// Fails with a detail naming the broken rule (no user message: callers show
// their own).
Result<BundleManifest> build_bundle_manifest(std::string_view ui_version, std::vector<std::string> const& files,
    std::vector<std::string> const& hashes);

// Reads a ".manifest" text back, applying the same rules.
Result<BundleManifest> parse_bundle_manifest(std::string_view text);

// ".active": current, previous and held-back ids.
struct ActivePointer {
    std::string current;
    std::string previous;
    std::string held_back;
};
std::optional<ActivePointer> parse_active(std::string_view text);
std::string format_active(ActivePointer const& pointer);

} // namespace tillbay::update
