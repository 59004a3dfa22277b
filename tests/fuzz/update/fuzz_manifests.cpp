// The manifest readers against arbitrary bytes: the version manifest scanner,
// the list rules, the ".manifest" reader, the signature check and the
// ".active" reader. Whatever they accept must hold only names that stay
// inside a bundle folder, and a manifest that is read back must rebuild to
// the same text.

#include "update/manifest.h"
#include "update/signature.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tillbay::update;

namespace {

void check_local_path(std::string const& path)
{
    if (path.empty() || path.front() == '/' || path.find("..") != std::string::npos || path.find('\\') != std::string::npos
        || path.find("//") != std::string::npos)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view text(reinterpret_cast<char const*>(data), size);

    auto version = scan_version_manifest(text);
    if (version.ui_version.size() > max_ui_version || version.files.size() > max_files || version.sha256.size() > max_files)
        std::abort();
    (void)version_newer(version.app_version, "1.3.191");
    if (version.lists_valid) {
        if (auto built = build_bundle_manifest(version.ui_version, version.files, version.sha256)) {
            for (auto const& file : built.value().files)
                check_local_path(file.local_path);
            auto back = parse_bundle_manifest(built.value().text);
            if (!back || back.value().release_id != built.value().release_id)
                std::abort();
        }
    }

    if (auto parsed = parse_bundle_manifest(text)) {
        for (auto const& file : parsed.value().files)
            check_local_path(file.local_path);
        if (parsed.value().text != text)
            std::abort();
    }

    // The signature check of a manifest: the sequence it reads, and the text
    // taken as a signature file, never verify without the key's signature.
    if (auto sequence = scan_sequence(text); sequence && std::to_string(*sequence).size() > max_sequence_digits)
        std::abort();
    if (auto decoded = decode_hex(text); decoded && decoded->size() * 2 > text.size())
        std::abort();
    if (check_signed_manifest(text, text, std::string(64, '0'), 0))
        std::abort();

    if (auto active = parse_active(text)) {
        if (format_active(*active) != text || !valid_release_id(active->current))
            std::abort();
    }
    return 0;
}
