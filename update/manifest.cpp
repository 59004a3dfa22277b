#include "update/manifest.h"

#include "base/ascii.h"
#include "os/crypto.h"

#include <algorithm>
#include <array>
#include <set>

namespace tillbay::update {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool is_name_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-'
        || c == '_';
}

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// Position just after `"key"` followed by optional blanks and a colon, so a
// value that happens to spell a key name is never taken for the key.
std::optional<size_t> value_start(std::string_view text, std::string_view key)
{
    std::string quoted = "\"" + std::string(key) + "\"";
    size_t from = 0;
    while (true) {
        auto at = text.find(quoted, from);
        if (at == std::string_view::npos)
            return std::nullopt;
        size_t i = at + quoted.size();
        while (i < text.size() && is_blank(text[i]))
            ++i;
        if (i < text.size() && text[i] == ':') {
            while (i < text.size() && (is_blank(text[i]) || text[i] == ':'))
                ++i;
            return i;
        }
        from = at + 1;
    }
}

bool reserved_device_name(std::string_view segment)
{
    auto stem = ascii::lowered(segment.substr(0, segment.find('.')));
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul")
        return true;
    if (stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) && stem[3] >= '0' && stem[3] <= '9')
        return true;
    return false;
}

bool valid_segment(std::string_view segment)
{
    if (segment.empty() || segment.front() == '.' || segment.back() == '.')
        return false;
    if (!std::all_of(segment.begin(), segment.end(), is_name_char))
        return false;
    return !reserved_device_name(segment);
}

constexpr std::string_view required_pages[] = { "login.html", "orders.html", "customer.html" };
constexpr std::string_view magic = "TWUI1\n";

} // namespace

std::string scan_string(std::string_view text, std::string_view key, size_t limit)
{
    auto start = value_start(text, key);
    if (!start || *start >= text.size() || text[*start] != '"')
        return {};
    auto open = *start + 1;
    auto close = text.find('"', open);
    if (close == std::string_view::npos)
        return {};
    return std::string(text.substr(open, std::min(close - open, limit)));
}

std::optional<std::vector<std::string>> scan_string_array(std::string_view text, std::string_view key, size_t max_entries)
{
    auto start = value_start(text, key);
    if (!start)
        return std::vector<std::string> {};
    size_t i = *start;
    if (i >= text.size() || text[i] != '[')
        return std::nullopt;
    ++i;
    std::vector<std::string> entries;
    auto skip = [&] {
        while (i < text.size() && is_blank(text[i]))
            ++i;
    };
    skip();
    if (i < text.size() && text[i] == ']')
        return entries;
    while (true) {
        skip();
        if (i >= text.size() || text[i] != '"')
            return std::nullopt;
        auto close = text.find('"', i + 1);
        if (close == std::string_view::npos)
            return std::nullopt;
        auto value = text.substr(i + 1, close - i - 1);
        if (value.empty() || value.size() > max_file_name || value.find('\\') != std::string_view::npos)
            return std::nullopt;
        if (entries.size() >= max_entries)
            return std::nullopt;
        entries.emplace_back(value);
        i = close + 1;
        skip();
        if (i >= text.size())
            return std::nullopt;
        if (text[i] == ']')
            return entries;
        if (text[i] != ',')
            return std::nullopt;
        ++i;
    }
}

VersionManifest scan_version_manifest(std::string_view text)
{
    VersionManifest manifest;
    manifest.ui_version = scan_string(text, "uiVersion", max_ui_version);
    manifest.app_version = scan_string(text, "appVersion", max_app_version);
    manifest.app_url = scan_string(text, "appUrl", max_app_url);
    manifest.app_sha256 = scan_string(text, "appSha256", max_app_sha256);
    auto files = scan_string_array(text, "files", max_files);
    auto hashes = scan_string_array(text, "sha256", max_files);
    manifest.lists_valid = files.has_value() && hashes.has_value();
    if (files)
        manifest.files = std::move(*files);
    if (hashes)
        manifest.sha256 = std::move(*hashes);
    return manifest;
}

bool version_newer(std::string_view a, std::string_view b)
{
    auto parse = [](std::string_view text) {
        std::array<long long, 3> parts {};
        size_t i = 0;
        for (size_t n = 0; n < 3; ++n) {
            if (n > 0) {
                if (i >= text.size() || text[i] != '.')
                    break;
                ++i;
            }
            bool negative = false;
            if (i < text.size() && (text[i] == '-' || text[i] == '+'))
                negative = text[i++] == '-';
            size_t digits = i;
            long long value = 0;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
                value = std::min<long long>(value * 10 + (text[i] - '0'), 1LL << 40);
                ++i;
            }
            if (i == digits)
                break;
            parts[n] = negative ? -value : value;
        }
        return parts;
    };
    return parse(a) > parse(b);
}

bool valid_local_path(std::string_view path)
{
    if (path.empty() || path.size() > max_file_name)
        return false;
    size_t start = 0;
    while (true) {
        auto slash = path.find('/', start);
        auto end = slash == std::string_view::npos ? path.size() : slash;
        if (!valid_segment(path.substr(start, end - start)))
            return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

std::optional<std::string> local_path_of(std::string_view listed_name)
{
    if (listed_name.size() > max_file_name)
        return std::nullopt;
    auto rest = listed_name;
    if (rest.starts_with("ui/"))
        rest.remove_prefix(3);
    if (!valid_local_path(rest))
        return std::nullopt;
    return std::string(rest);
}

bool valid_ui_version(std::string_view name)
{
    return !name.empty() && name.size() <= max_ui_version && std::all_of(name.begin(), name.end(), is_name_char);
}

bool valid_hash(std::string_view hex) { return hex.size() == 64 && std::all_of(hex.begin(), hex.end(), is_hex); }

bool valid_release_id(std::string_view id)
{
    if (id.size() != 66 && id.size() != 83)
        return false;
    if (!id.starts_with("r-") || !std::all_of(id.begin() + 2, id.begin() + 66, is_lower_hex))
        return false;
    if (id.size() == 66)
        return true;
    return id[66] == '-' && std::all_of(id.begin() + 67, id.end(), is_lower_hex);
}

bool same_release_content(std::string_view a, std::string_view b)
{
    return a.size() >= 66 && b.size() >= 66 && a.substr(0, 66) == b.substr(0, 66);
}

Result<BundleManifest> build_bundle_manifest(std::string_view ui_version, std::vector<std::string> const& files,
    std::vector<std::string> const& hashes)
{
    if (!valid_ui_version(ui_version))
        return Error::from_detail("ui version name breaks the rule");
    if (files.empty() || files.size() > max_files)
        return Error::from_detail("file count " + std::to_string(files.size()) + " outside 1..128");
    if (files.size() != hashes.size())
        return Error::from_detail("file and hash counts differ");
    BundleManifest manifest;
    manifest.ui_version = std::string(ui_version);
    manifest.text = std::string(magic) + manifest.ui_version + "\n";
    std::set<std::string> seen_files;
    std::set<std::string> seen_folders;
    for (size_t i = 0; i < files.size(); ++i) {
        auto local = local_path_of(files[i]);
        if (!local)
            return Error::from_detail("file name breaks the rule: " + files[i]);
        if (!valid_hash(hashes[i]))
            return Error::from_detail("hash is not 64 hexadecimal digits: " + files[i]);
        // Names are compared the way a case-insensitive file system would, and
        // a file may not also be the folder of another file.
        auto key = ascii::lowered(*local);
        if (!seen_files.insert(key).second || seen_folders.count(key))
            return Error::from_detail("file listed twice: " + files[i]);
        for (auto slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
            auto folder = key.substr(0, slash);
            if (seen_files.count(folder))
                return Error::from_detail("file listed as a folder too: " + files[i]);
            seen_folders.insert(folder);
        }
        manifest.text += files[i] + "\t" + hashes[i] + "\n";
        manifest.files.push_back({ files[i], *local, hashes[i] });
    }
    for (auto page : required_pages) {
        bool present = std::any_of(manifest.files.begin(), manifest.files.end(),
            [&](BundleFile const& f) { return f.local_path == page; });
        if (!present)
            return Error::from_detail("bundle lacks " + std::string(page));
    }
    if (manifest.text.size() > max_bundle_manifest)
        return Error::from_detail("manifest text too long");
    manifest.release_id = "r-" + os::sha256_hex(manifest.text);
    return manifest;
}

Result<BundleManifest> parse_bundle_manifest(std::string_view text)
{
    if (text.size() > max_bundle_manifest)
        return Error::from_detail("manifest too large");
    if (!text.starts_with(magic))
        return Error::from_detail("manifest lacks TWUI1");
    size_t i = magic.size();
    auto eol = text.find('\n', i);
    if (eol == std::string_view::npos || eol - i > max_ui_version)
        return Error::from_detail("manifest version line");
    auto version = text.substr(i, eol - i);
    i = eol + 1;
    std::vector<std::string> files;
    std::vector<std::string> hashes;
    while (i < text.size()) {
        if (files.size() >= max_files)
            return Error::from_detail("manifest lists too many files");
        auto line_end = text.find('\n', i);
        if (line_end == std::string_view::npos)
            return Error::from_detail("manifest lacks its final newline");
        auto line = text.substr(i, line_end - i);
        auto tab = line.find('\t');
        if (tab == std::string_view::npos)
            return Error::from_detail("manifest line without a tab");
        if (tab > max_file_name)
            return Error::from_detail("manifest name too long");
        if (line.size() - tab - 1 != 64)
            return Error::from_detail("manifest hash length");
        files.emplace_back(line.substr(0, tab));
        hashes.emplace_back(line.substr(tab + 1));
        i = line_end + 1;
    }
    auto manifest = TRY(build_bundle_manifest(version, files, hashes));
    if (manifest.text != text)
        return Error::from_detail("manifest text is not in its own form");
    return manifest;
}

std::optional<ActivePointer> parse_active(std::string_view text)
{
    if (text.size() > max_active_file)
        return std::nullopt;
    auto first = text.find('\n');
    if (first == std::string_view::npos)
        return std::nullopt;
    auto second = text.find('\n', first + 1);
    if (second == std::string_view::npos || text.find('\n', second + 1) != std::string_view::npos)
        return std::nullopt;
    ActivePointer pointer { std::string(text.substr(0, first)), std::string(text.substr(first + 1, second - first - 1)),
        std::string(text.substr(second + 1)) };
    if (!valid_release_id(pointer.current))
        return std::nullopt;
    if (!pointer.previous.empty() && !valid_release_id(pointer.previous))
        return std::nullopt;
    if (!pointer.held_back.empty() && !valid_release_id(pointer.held_back))
        return std::nullopt;
    return pointer;
}

std::string format_active(ActivePointer const& pointer)
{
    return pointer.current + "\n" + pointer.previous + "\n" + pointer.held_back;
}

} // namespace tillbay::update
