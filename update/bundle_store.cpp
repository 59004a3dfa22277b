#include "update/bundle_store.h"

#include "base/ascii.h"
#include "foundation/paths.h"
#include "os/crypto.h"
#include "os/fs.h"
#include "os/tree.h"
#include "update/web_host.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace tillbay::bundle {

using update::ActivePointer;
using update::BundleFile;
using update::BundleManifest;

namespace {

constexpr char const* active_name = ".active";
constexpr char const* active_temp_name = ".active.tmp";
constexpr char const* lock_name = ".update.lock";
constexpr char const* lease_name = ".lease";
constexpr char const* manifest_name = ".manifest";
constexpr std::string_view staging_prefix = ".stage-";
constexpr size_t max_suffix = 63;
constexpr size_t max_suffix_host = 127;
constexpr size_t max_uiroot = 258;

std::string_view after_scheme(std::string_view text)
{
    if (auto at = text.find("://"); at != std::string_view::npos)
        return text.substr(at + 3);
    return text;
}

std::string without_slash(std::string dir)
{
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

uint64_t tick_count()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

std::string parent_path(std::string_view local)
{
    auto slash = local.rfind('/');
    return slash == std::string_view::npos ? std::string {} : std::string(local.substr(0, slash));
}

InstallOutcome failed(std::string message) { return { false, std::move(message) }; }

} // namespace

std::string web_host_suffix(std::string_view web_host, std::string_view production)
{
    if (ascii::equals_ignoring_case(web_host, production))
        return {};
    auto host = after_scheme(web_host);
    host = host.substr(0, host.find('/'));
    if (host.empty())
        return {};
    host = host.substr(0, max_suffix_host);
    std::string suffix = "-";
    for (char c : host) {
        if (suffix.size() >= max_suffix)
            break;
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
        suffix.push_back(keep ? c : '_');
    }
    return suffix;
}

Layout layout_for(std::string_view suffix)
{
    Layout layout;
    layout.install = without_slash(paths::exe_dir());
    char const* uiroot = std::getenv("TILLBAY_UIROOT");
    char const* testport = std::getenv("TILLBAY_TESTPORT");
    if (uiroot && testport) {
        std::string root = uiroot;
        if (!root.empty() && root.size() <= max_uiroot) {
            root = without_slash(root);
            layout.store = root + "/ui-bundles" + std::string(suffix);
            layout.legacy = root + "/TillBay/ui" + std::string(suffix);
            return layout;
        }
    }
    auto user = paths::user_dir();
    if (user.empty())
        return layout;
    layout.store = user + "ui-bundles" + std::string(suffix);
    layout.legacy = user + "ui" + std::string(suffix);
    return layout;
}

Store::Store(Layout layout)
    : m_layout(std::move(layout))
{
}

bool Store::set_layout(Layout layout)
{
    std::lock_guard guard(m_lock);
    if (m_pinned.load())
        return false;
    m_choice = Choice {};
    m_layout = std::move(layout);
    return true;
}

Layout Store::layout() const
{
    std::lock_guard guard(m_lock);
    return m_layout;
}

std::string Store::release_dir(std::string_view id) const { return m_layout.store + "/" + std::string(id); }

std::optional<ActivePointer> Store::read_active() const
{
    auto path = m_layout.store + "/" + active_name;
    if (os::tree::kind_of(path) != os::tree::Kind::File)
        return std::nullopt;
    auto text = os::read_file(path, update::max_active_file);
    if (!text)
        return std::nullopt;
    return update::parse_active(text.value());
}

Status Store::write_active(ActivePointer const& pointer) const
{
    return os::tree::replace_synced(m_layout.store + "/" + active_name, m_layout.store + "/" + active_temp_name,
        update::format_active(pointer));
}

Result<std::string> Store::verify_release(std::string_view id)
{
    if (!update::valid_release_id(id) || m_layout.store.empty())
        return Error::from_detail("not a release id");
    auto dir = release_dir(id);
    if (os::tree::kind_of(dir) != os::tree::Kind::Directory)
        return Error::from_detail("no release folder " + dir);
    auto manifest_path = dir + "/" + manifest_name;
    if (os::tree::kind_of(manifest_path) != os::tree::Kind::File)
        return Error::from_detail("no manifest in " + dir);
    auto text = TRY(os::read_file(manifest_path, update::max_bundle_manifest));
    auto manifest = TRY(update::parse_bundle_manifest(text));
    if (!update::same_release_content(manifest.release_id, id))
        return Error::from_detail("manifest does not match the folder name " + dir);
    for (auto const& file : manifest.files) {
        auto hash = TRY(os::tree::sha256_beneath(dir, file.local_path));
        if (!ascii::equals_ignoring_case(hash, file.sha256))
            return Error::from_detail("file differs from its hash: " + dir + "/" + file.local_path);
    }
    return manifest.ui_version;
}

void Store::resolve()
{
    std::lock_guard guard(m_lock);
    resolve_locked();
}

void Store::resolve_locked()
{
    if (m_choice.resolved || (m_layout.store.empty() && m_layout.legacy.empty()))
        return;
    // A second attempt covers an install that replaced ".active" between our
    // read and our lease on the release it named.
    for (int attempt = 0; attempt < 2 && !m_layout.store.empty(); ++attempt) {
        auto pointer = read_active();
        if (!pointer)
            break;
        for (auto const* id : { &pointer->current, &pointer->previous }) {
            if (id->empty())
                continue;
            auto lease = os::FileLock::shared_existing(release_dir(*id) + "/" + lease_name);
            if (!lease)
                continue;
            auto version = verify_release(*id);
            if (!version)
                continue;
            m_choice.resolved = true;
            m_choice.root = release_dir(*id);
            m_choice.ui_version = version.release_value();
            m_choice.leased = true;
            m_choice.lease = lease.release_value();
            return;
        }
    }
    m_choice.resolved = true;
    m_choice.leased = false;
    m_choice.root = m_layout.legacy;
    m_choice.ui_version.clear();
    if (m_layout.legacy.empty())
        return;
    (void)os::make_dir(m_layout.legacy);
    if (auto version = os::read_prefix(m_layout.legacy + "/.version", update::max_ui_version)) {
        auto text = version.release_value();
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
            text.pop_back();
        m_choice.ui_version = text;
    }
}

std::optional<std::string> Store::root()
{
    std::lock_guard guard(m_lock);
    resolve_locked();
    m_pinned.store(true);
    if (m_choice.root.empty())
        return std::nullopt;
    return m_choice.root;
}

std::string Store::ui_version()
{
    std::lock_guard guard(m_lock);
    resolve_locked();
    return m_choice.ui_version;
}

bool Store::leased()
{
    std::lock_guard guard(m_lock);
    resolve_locked();
    return m_choice.leased;
}

bool Store::page_exists(std::string_view page, std::string* root_out)
{
    auto in_use = root();
    if (!in_use)
        return false;
    if (root_out)
        *root_out = *in_use;
    auto local = update::local_path_of(page);
    return local && os::tree::file_beneath(*in_use, *local);
}

Result<std::string> Store::resolve_file(std::string_view name)
{
    if (!update::valid_local_path(name))
        return Error::from_detail("not a bundle file name: " + std::string(name), 2);
    auto in_use = root();
    if (in_use && os::tree::file_beneath(*in_use, name))
        return *in_use + "/" + std::string(name);
    if (leased())
        return Error::from_detail("not in the bundle in use: " + std::string(name), 2);
    auto install = layout().install;
    if (install.empty())
        return Error::from_detail("no installation folder", 2);
    return install + "/" + std::string(name);
}

void Store::remove_staging_leftovers() const
{
    auto entries = os::tree::list(m_layout.store);
    if (!entries)
        return;
    for (auto const& entry : entries.value()) {
        if (entry.kind == os::tree::Kind::Directory && entry.name.starts_with(staging_prefix))
            (void)os::tree::remove_dir_tree(m_layout.store + "/" + entry.name);
    }
}

void Store::prune(ActivePointer const& pointer) const
{
    auto entries = os::tree::list(m_layout.store);
    if (!entries)
        return;
    for (auto const& entry : entries.value()) {
        if (entry.kind != os::tree::Kind::Directory || !update::valid_release_id(entry.name))
            continue;
        if (entry.name == pointer.current || entry.name == pointer.previous || entry.name == pointer.held_back)
            continue;
        auto dir = release_dir(entry.name);
        // Only a release that no running program holds may go; one that is
        // held stays for a later prune.
        auto lock = os::FileLock::exclusive_for_delete(dir + "/" + lease_name);
        if (!lock)
            continue;
        if (!os::tree::clear_dir(dir, lease_name))
            continue;
        (void)lock.value().remove_and_close();
        (void)os::tree::remove_dir_tree(dir);
    }
}

Status Store::stage_file(std::optional<std::string_view> web_host, std::string const& staging, BundleFile const& file,
    std::string const& root_in_use)
{
    TRY(os::tree::make_dirs_beneath(staging, parent_path(file.local_path)));
    auto target = staging + "/" + file.local_path;
    // Unchanged files come from a folder already on this PC; only what
    // changed crosses the network.
    std::string sources[] = { root_in_use, m_layout.legacy, m_layout.install };
    for (size_t i = 0; i < 3; ++i) {
        auto const& source = sources[i];
        if (source.empty() || (i > 0 && source == sources[0]) || (i > 1 && source == sources[1]))
            continue;
        auto copied = os::tree::copy_hashing(source, file.local_path, target);
        if (copied && ascii::equals_ignoring_case(copied.value(), file.sha256))
            return {};
    }
    (void)os::remove_file(target);
    if (!web_host)
        return Error::from_detail("no local copy of " + file.listed_name + " and no web host");
    auto endpoint = update::web_host_endpoint(*web_host);
    if (!endpoint)
        return Error::from_detail("web host refused for downloads");
    TRY(os::http::get_to_file(*endpoint, "/v2/pos/" + file.listed_name, target));
    auto hash = TRY(os::tree::sha256_beneath(staging, file.local_path));
    if (!ascii::equals_ignoring_case(hash, file.sha256)) {
        char text[256];
        std::snprintf(text, sizeof text, "받은 화면의 검증값이 다릅니다 (%s)", file.listed_name.c_str());
        return Error::with_message(text, "hash of the download differs");
    }
    return os::tree::sync_file(target);
}

InstallOutcome Store::install(std::optional<std::string_view> web_host, update::VersionManifest const& version_manifest)
{
    if (!version_manifest.lists_valid)
        return failed(text::bad_list);
    auto built = update::build_bundle_manifest(version_manifest.ui_version, version_manifest.files, version_manifest.sha256);
    if (!built)
        return failed(text::bad_list);
    auto layout_now = layout();
    if (layout_now.store.empty())
        return failed(text::incomplete);
    auto parent = layout_now.store.substr(0, layout_now.store.rfind('/'));
    (void)os::make_dir(parent);
    if (!os::make_dir(layout_now.store) || os::tree::kind_of(layout_now.store) != os::tree::Kind::Directory)
        return failed(text::incomplete);
    auto lock = os::FileLock::exclusive(layout_now.store + "/" + lock_name);
    if (!lock)
        return failed(lock.error().code == os::lock_busy ? text::busy : text::incomplete);
    std::string staging;
    auto outcome = install_locked(web_host, built.release_value(), staging);
    if (!staging.empty() && os::tree::kind_of(staging) == os::tree::Kind::Directory)
        (void)os::tree::remove_dir_tree(staging);
    if (!outcome.switched && outcome.error.empty() && !staging.empty())
        outcome.error = text::incomplete;
    return outcome;
}

InstallOutcome Store::install_locked(std::optional<std::string_view> web_host, BundleManifest manifest, std::string& staging)
{
    remove_staging_leftovers();
    auto old = read_active().value_or(ActivePointer {});
    std::string root_in_use;
    {
        std::lock_guard guard(m_lock);
        resolve_locked();
        root_in_use = m_choice.root;
    }
    auto id = manifest.release_id;
    if (!old.held_back.empty() && update::same_release_content(id, old.held_back))
        return failed(text::held_back);
    if (!old.current.empty() && update::same_release_content(id, old.current) && verify_release(old.current)) {
        prune(old);
        return { root_in_use != release_dir(old.current), {} };
    }
    auto existing = os::tree::kind_of(release_dir(id));
    bool reuse = existing == os::tree::Kind::Directory && verify_release(id).ok();
    if (!reuse) {
        if (existing != os::tree::Kind::Missing) {
            // A damaged folder blocks the plain id: it is left alone and the
            // new release gets a name of its own.
            uint8_t random[8];
            if (!os::random_bytes(random))
                return failed(text::incomplete);
            static constexpr char digits[] = "0123456789abcdef";
            id += '-';
            for (auto byte : random) {
                id.push_back(digits[byte >> 4]);
                id.push_back(digits[byte & 15]);
            }
        }
        staging = m_layout.store + "/" + std::string(staging_prefix) + std::to_string(::getpid()) + "-"
            + std::to_string(tick_count());
        if (!os::make_dir(staging))
            return failed(text::incomplete);
        for (auto const& file : manifest.files) {
            auto staged = stage_file(web_host, staging, file, root_in_use);
            if (!staged)
                return failed(staged.error().message.empty() ? text::incomplete : staged.error().message);
        }
        if (!os::tree::write_new_synced(staging + "/" + lease_name, {})
            || !os::tree::write_new_synced(staging + "/" + manifest_name, manifest.text)
            || !os::tree::sync_dir(staging) || !os::tree::rename_dir_noreplace(staging, release_dir(id)))
            return failed(text::incomplete);
        staging.clear();
        if (!verify_release(id))
            return failed(text::incomplete);
    }
    ActivePointer next;
    next.current = id;
    for (auto const* candidate : { &old.current, &old.previous }) {
        if (!candidate->empty() && *candidate != id && verify_release(*candidate)) {
            next.previous = *candidate;
            break;
        }
    }
    next.held_back = old.held_back;
    if (!write_active(next))
        return failed(text::incomplete);
    prune(next);
    return { true, {} };
}

InstallOutcome Store::seed_from_installation()
{
    if (leased())
        return {};
    auto install_dir = layout().install;
    if (install_dir.empty())
        return {};
    auto path = install_dir + "/version.json";
    if (os::tree::kind_of(path) != os::tree::Kind::File)
        return {};
    auto text = os::read_file(path, update::max_install_manifest);
    if (!text)
        return {};
    auto outcome = install(std::nullopt, update::scan_version_manifest(text.value()));
    if (outcome.switched) {
        std::lock_guard guard(m_lock);
        if (!m_pinned.load()) {
            m_choice = Choice {};
            resolve_locked();
        }
    }
    return outcome;
}

Status Store::roll_back()
{
    auto layout_now = layout();
    if (layout_now.store.empty())
        return Error::with_message(text::rollback_failed, "no store");
    auto lock = os::FileLock::exclusive(layout_now.store + "/" + lock_name);
    if (!lock)
        return Error::with_message(text::rollback_failed, lock.error().detail);
    auto old = read_active();
    if (!old || old->previous.empty() || !verify_release(old->previous))
        return Error::with_message(text::rollback_failed, "no verified previous release");
    if (!write_active({ old->previous, {}, old->current }))
        return Error::with_message(text::rollback_failed, "cannot write .active");
    return {};
}

Status Store::clear_held_back()
{
    auto layout_now = layout();
    if (os::tree::kind_of(layout_now.store) != os::tree::Kind::Directory)
        return {};
    auto lock = os::FileLock::exclusive(layout_now.store + "/" + lock_name);
    if (!lock)
        return Error::with_message(lock.error().code == os::lock_busy ? text::busy : text::incomplete, lock.error().detail);
    auto old = read_active();
    if (!old)
        return {};
    old->held_back.clear();
    TRY(write_active(*old));
    return {};
}

} // namespace tillbay::bundle
