#pragma once

// Temporary folders and small bundles for the update tests.

#include "os/crypto.h"
#include "update/manifest.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace tillbay::test {

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/tb-update-XXXXXX";
        char* made = ::mkdtemp(pattern);
        m_path = made ? made : "";
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(TempDir const&) = delete;
    TempDir& operator=(TempDir const&) = delete;
    std::string const& path() const { return m_path; }
    std::string operator/(std::string const& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void write(std::string const& path, std::string const& content)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string read(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Files of a bundle: local path -> content.
using Files = std::map<std::string, std::string>;

inline Files pages(std::string const& tag)
{
    return {
        { "login.html", "<p>login " + tag + "</p>" },
        { "orders.html", "<p>orders " + tag + "</p>" },
        { "customer.html", "<p>customer " + tag + "</p>" },
        { "css/app.css", "body{color:" + tag + "}" },
    };
}

inline void write_files(std::string const& dir, Files const& files)
{
    for (auto const& [name, content] : files)
        write(dir + "/" + name, content);
}

// The version manifest of files, listed with the "ui/" prefix.
inline update::VersionManifest manifest_of(std::string const& ui_version, Files const& files)
{
    update::VersionManifest manifest;
    manifest.ui_version = ui_version;
    for (auto const& [name, content] : files) {
        manifest.files.push_back("ui/" + name);
        manifest.sha256.push_back(os::sha256_hex(content));
    }
    return manifest;
}

inline std::string version_json(update::VersionManifest const& manifest)
{
    std::string text = "{\"uiVersion\":\"" + manifest.ui_version + "\",\"files\":[";
    for (size_t i = 0; i < manifest.files.size(); ++i)
        text += (i ? "," : "") + ("\"" + manifest.files[i] + "\"");
    text += "],\"sha256\":[";
    for (size_t i = 0; i < manifest.sha256.size(); ++i)
        text += (i ? "," : "") + ("\"" + manifest.sha256[i] + "\"");
    text += "]";
    if (!manifest.app_version.empty())
        text += ",\"appVersion\":\"" + manifest.app_version + "\",\"appUrl\":\"" + manifest.app_url
            + "\",\"appSha256\":\"" + manifest.app_sha256 + "\"";
    return text + "}";
}

} // namespace tillbay::test
