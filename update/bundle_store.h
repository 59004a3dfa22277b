#pragma once

// The store of verified UI bundles. Each release is a folder named after the
// SHA-256 of its manifest, written once in a staging folder and never changed;
// ".active" names the current, previous and held-back releases and is the only
// file that changes, by an atomic replace under ".update.lock". A program
// holds a shared lease on the release it uses for its whole life, so a prune
// run by another program never deletes it. Several programs may share a store.

#include "base/result.h"
#include "os/filelock.h"
#include "update/manifest.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::bundle {

// Where a store lives. Paths have no trailing "/".
struct Layout {
    std::string store;      // ".../ui-bundles" + suffix
    std::string legacy;     // the older, unversioned folder ("ui" + suffix)
    std::string install;    // the folder of the executable (installation copy)
};

// The name that keeps the bundles of different web hosts apart: empty for
// the production web host or a web host without a host part, else "-" and the
// host part with every character other than letters, digits, "." and "-"
// replaced by "_", at most 63 characters. production is the platform's own
// web host (the built-in web address).
std::string web_host_suffix(std::string_view web_host, std::string_view production);

// The layout for a suffix from the environment: the per-user folder, or
// TILLBAY_UIROOT (1..258 characters) when TILLBAY_TESTPORT is set as well.
// Empty store path when no per-user folder is known.
Layout layout_for(std::string_view suffix);

struct InstallOutcome {
    bool switched = false; // a different release became current
    std::string error;     // the Korean text of a failure, empty otherwise
};

// Messages a caller may show or test for.
namespace text {
inline constexpr char const* bad_list = "화면 묶음 목록·검증값이 올바르지 않습니다";
inline constexpr char const* busy = "다른 프로그램이 화면 묶음을 준비 중입니다";
inline constexpr char const* held_back = "이 화면은 이전 판 복구 후 보류했습니다. 다음 화면 판을 기다려 주세요";
inline constexpr char const* incomplete = "화면 묶음을 완성하지 못했습니다. 기존 화면을 유지합니다";
inline constexpr char const* rollback_failed = "복구할 이전 화면 묶음을 확인하지 못했습니다.";
} // namespace text

class Store {
public:
    explicit Store(Layout layout);
    Store(Store const&) = delete;
    Store& operator=(Store const&) = delete;

    // Replaces the layout (a new web-host suffix) while nothing has pinned the
    // choice; drops the current choice and its lease. False when pinned.
    bool set_layout(Layout layout);
    Layout layout() const;

    // Chooses the bundle in use once; every accessor below calls it first.
    void resolve();
    // The folder of the bundle in use; pins the choice. Nullopt when none.
    std::optional<std::string> root();
    std::string ui_version();
    bool leased();
    // True when the page name is valid and the file exists in the bundle in use.
    bool page_exists(std::string_view page, std::string* root_out = nullptr);
    // The file to serve for a relative name: in the bundle in use when there;
    // not found when a verified release is in use; otherwise the path next to
    // the executable (the caller checks that it exists). Names that could
    // leave the folder are refused.
    Result<std::string> resolve_file(std::string_view name);

    // Installs the bundle of a version manifest. With a web host, files that
    // no local source has are downloaded from it.
    InstallOutcome install(std::optional<std::string_view> web_host, update::VersionManifest const& manifest);
    // Installs from the version.json of the installation when no verified
    // release is in use; when it switched and nothing pinned the store, this
    // process uses the new release at once.
    InstallOutcome seed_from_installation();
    Status roll_back();
    Status clear_held_back();

    // Verifies a release folder; its UI version on success.
    Result<std::string> verify_release(std::string_view id);

private:
    struct Choice {
        bool resolved = false;
        std::string root;
        std::string ui_version;
        bool leased = false;
        os::FileLock lease;
    };

    void resolve_locked();
    std::string release_dir(std::string_view id) const;
    std::optional<update::ActivePointer> read_active() const;
    Status write_active(update::ActivePointer const& pointer) const;
    void remove_staging_leftovers() const;
    void prune(update::ActivePointer const& pointer) const;
    InstallOutcome install_locked(std::optional<std::string_view> web_host, update::BundleManifest manifest,
        std::string& staging);
    Status stage_file(std::optional<std::string_view> web_host, std::string const& staging,
        update::BundleFile const& file, std::string const& root_in_use);

    mutable std::mutex m_lock;
    Layout m_layout;
    Choice m_choice;
    std::atomic<bool> m_pinned { false };
};

} // namespace tillbay::bundle
