#pragma once

// The UI bundle the web host serves under /v2/pos/ and the version manifest
// that lists it: file names, their SHA-256 and the program update, in the
// form the POS's update check and bundle store read.

#include "tools/platform/platform.h"

#include <string>
#include <vector>

namespace tillbay::platform {

// The bundle may list at most this many files (the POS refuses more).
constexpr size_t k_bundle_file_limit = 128;
// A file name must be shorter than this.
constexpr size_t k_bundle_name_limit = 96;

struct BundleFile {
    std::string name;   // as listed: "ui/" + the "/"-separated path in the bundle
    std::string path;   // on disk, empty when published from memory
    std::string sha256;
};

// Whether a name passes the POS's bundle name rule (segments of letters,
// digits, ".", "-" and "_", no leading or trailing dot, no device names).
bool valid_bundle_name(std::string const& name);

// The UI folder: --ui, else "ui" next to the executable, else the executable's
// own folder when the bundle is installed there (dist/), else the build tree's
// bundle, else the source tree's pages.
std::string resolve_ui_dir(std::string const& option);

std::vector<BundleFile> bundle_files(Platform& platform);
std::string bundle_version(Platform& platform, std::vector<BundleFile> const& files);
Json version_manifest(Platform& platform);
// The content of /v2/pos/<name>, or nullopt.
std::optional<std::string> bundle_file_content(Platform& platform, std::string const& name);

} // namespace tillbay::platform
