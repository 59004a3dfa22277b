#include "tools/platform/bundle.h"

#include "foundation/paths.h"
#include "os/fs.h"
#include "tillbay_version.h"
#include "tools/platform/pcrypto.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

namespace tillbay::platform {

namespace fs = std::filesystem;

namespace {

// Bundle files are small pages, scripts and pictures; anything bigger is not served.
constexpr size_t k_bundle_file_size_limit = 32 * 1024 * 1024;

bool skipped_in_bundle(std::string const& name)
{
    std::string base = name.substr(name.rfind('/') + 1);
    return base == "CMakeLists.txt" || base.ends_with(".cmake") || base.ends_with(".md") || base == "version.json";
}

std::string upper(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

bool valid_bundle_name(std::string const& raw)
{
    if (raw.empty() || raw.size() >= k_bundle_name_limit)
        return false;
    std::string name = raw.starts_with("ui/") ? raw.substr(3) : raw;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        std::string seg = name.substr(start, end - start);
        if (seg.empty() || seg.front() == '.' || seg.back() == '.')
            return false;
        for (char c : seg)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
                return false;
        std::string stem = upper(seg.substr(0, seg.find('.')));
        if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL")
            return false;
        if ((stem.starts_with("COM") || stem.starts_with("LPT")) && stem.size() == 4 && std::isdigit(static_cast<unsigned char>(stem[3])))
            return false;
        start = end + 1;
    }
    return true;
}

std::string resolve_ui_dir(std::string const& option)
{
    if (!option.empty())
        return option;
    std::error_code ec;
    std::string exe = paths::exe_dir();
    std::string beside = exe + "ui";
    if (fs::is_directory(beside, ec))
        return beside;
    // The install layout (dist/): the bundle's pages and its version.json lie
    // next to the executables.
    if (!exe.empty() && fs::is_regular_file(exe + "version.json", ec))
        return exe.substr(0, exe.size() - 1);
#ifdef TB_BUILD_UI_DIR
    if (fs::is_regular_file(std::string(TB_BUILD_UI_DIR) + "/version.json", ec))
        return TB_BUILD_UI_DIR;
#endif
#ifdef TB_SOURCE_UI_DIR
    return TB_SOURCE_UI_DIR;
#else
    return beside;
#endif
}

namespace {

// The name a file is listed under in the version manifest: "ui/" and its path
// in the bundle, as the bundle build writes it.
std::string listed_name(std::string const& local) { return "ui/" + local; }

// The bundle build's own manifest in the UI folder, when there is a readable
// one whose two lists agree. Its names are the only files served from that
// folder, so an install folder next to the settings file gives away nothing
// else.
struct BuiltManifest {
    std::string ui_version;
    std::vector<std::string> files;   // listed names
    std::vector<std::string> sha256;
};

std::optional<BuiltManifest> built_manifest(std::string const& root)
{
    auto text = os::read_file(root + "/version.json", 256 * 1024);
    if (!text.ok())
        return std::nullopt;
    Json j = Json::parse(text.value(), nullptr, false);
    if (!j.is_object() || !j.contains("uiVersion") || !j["uiVersion"].is_string() || !j.contains("files")
        || !j["files"].is_array() || !j.contains("sha256") || !j["sha256"].is_array()
        || j["files"].size() != j["sha256"].size() || j["files"].size() > k_bundle_file_limit)
        return std::nullopt;
    BuiltManifest manifest;
    manifest.ui_version = j["uiVersion"].get<std::string>();
    for (size_t i = 0; i < j["files"].size(); ++i) {
        if (!j["files"][i].is_string() || !j["sha256"][i].is_string())
            return std::nullopt;
        std::string name = j["files"][i].get<std::string>();
        if (!name.starts_with("ui/") || !valid_bundle_name(name))
            return std::nullopt;
        manifest.files.push_back(std::move(name));
        manifest.sha256.push_back(j["sha256"][i].get<std::string>());
    }
    if (manifest.ui_version.empty())
        return std::nullopt;
    return manifest;
}

} // namespace

std::vector<BundleFile> bundle_files(Platform& platform)
{
    std::vector<BundleFile> files;
    std::string root = resolve_ui_dir(platform.options().ui_dir);
    std::error_code ec;
    if (auto built = built_manifest(root)) {
        for (size_t i = 0; i < built->files.size(); ++i)
            files.push_back({ built->files[i], root + "/" + built->files[i].substr(3), built->sha256[i] });
    } else if (fs::is_directory(root, ec)) {
        for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_regular_file(ec))
                continue;
            std::string name = fs::relative(it->path(), root, ec).generic_string();
            if (ec || !valid_bundle_name(listed_name(name)) || skipped_in_bundle(name)
                || it->file_size(ec) > k_bundle_file_size_limit)
                continue;
            auto digest = os::read_file(it->path().string(), k_bundle_file_size_limit);
            if (!digest.ok())
                continue;
            files.push_back({ listed_name(name), it->path().string(), sha256_hex(digest.value()) });
        }
    }
    for (auto const& [name, content] : platform.published_files()) {
        std::string listed = name.starts_with("ui/") ? name : listed_name(name);
        std::erase_if(files, [&](auto const& f) { return f.name == listed; });
        files.push_back({ listed, "", sha256_hex(content) });
    }
    std::sort(files.begin(), files.end(), [](auto const& a, auto const& b) { return a.name < b.name; });
    if (files.size() > k_bundle_file_limit)
        files.resize(k_bundle_file_limit);
    return files;
}

std::string bundle_version(Platform& platform, std::vector<BundleFile> const& files)
{
    std::string published = platform.published_ui_version();
    if (!published.empty())
        return published;
    // The bundle build's version names its files as they are; once anything
    // is published over them, the content names the bundle, the way the
    // bundle build would name it.
    if (platform.published_files().empty()) {
        if (auto built = built_manifest(resolve_ui_dir(platform.options().ui_dir)))
            return built->ui_version;
    }
    std::string list;
    for (auto const& f : files)
        list += f.name + "\t" + f.sha256 + "\n";
    return std::string(TILLBAY_VERSION) + "-" + sha256_hex(list).substr(0, 8);
}

Json version_manifest(Platform& platform)
{
    auto files = bundle_files(platform);
    Json names = Json::array();
    Json hashes = Json::array();
    for (auto const& f : files) {
        names.push_back(f.name);
        hashes.push_back(f.sha256);
    }
    Json j = { { "uiVersion", bundle_version(platform, files) }, { "files", names }, { "sha256", hashes } };
    if (auto app = platform.published_app()) {
        j["appVersion"] = app->version;
        j["appUrl"] = "/v2/pos/" + app->url_path;
        j["appSha256"] = app->sha256;
    } else {
        // The program the POS runs is current: only the bundle is offered.
        j["appVersion"] = TILLBAY_VERSION;
        j["appUrl"] = "";
        j["appSha256"] = "";
    }
    return j;
}

std::optional<std::string> bundle_file_content(Platform& platform, std::string const& raw)
{
    if (auto app = platform.published_app(); app && raw == app->url_path) {
        auto content = os::read_file(app->file_path, 512 * 1024 * 1024);
        if (content.ok())
            return content.release_value();
        return std::nullopt;
    }
    std::string name = raw.starts_with("ui/") ? raw.substr(3) : raw;
    if (!valid_bundle_name(name))
        return std::nullopt;
    auto published = platform.published_files();
    for (auto const& key : { name, "ui/" + name })
        if (auto it = published.find(key); it != published.end())
            return it->second;
    std::string root = resolve_ui_dir(platform.options().ui_dir);
    if (auto built = built_manifest(root)) {
        if (std::find(built->files.begin(), built->files.end(), listed_name(name)) == built->files.end())
            return std::nullopt;
    }
    std::string path = root + "/" + name;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec) || skipped_in_bundle(name))
        return std::nullopt;
    auto content = os::read_file(path, k_bundle_file_size_limit);
    if (!content.ok())
        return std::nullopt;
    return content.release_value();
}

} // namespace tillbay::platform
