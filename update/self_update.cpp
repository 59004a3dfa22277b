#include "update/self_update.h"

#include "base/ascii.h"
#include "foundation/json_text.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "os/crypto.h"
#include "os/fs.h"
#include "os/process.h"
#include "update/bundle.h"
#include "update/signature.h"
#include "update/web_host.h"

#include "tillbay_version.h"

#include <cerrno>
#include <climits>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <vector>
#include <unistd.h>


namespace tillbay::update {

namespace {

constexpr char const* section = "UPDATE";
// The executable's path must stay below 260 bytes.
constexpr size_t max_exe_path = 259;
constexpr size_t max_app_host = 255;

std::string read_key(std::string_view key) { return settings::read_text(section, key, 128); }
void write_key(std::string_view key, std::optional<std::string_view> value) { (void)settings::write_profile(section, key, value); }

std::string with_slash(std::string dir)
{
    if (!dir.empty() && dir.back() != '/')
        dir.push_back('/');
    return dir;
}

Error fail_text(std::string message) { return Error::with_message(std::move(message)); }

} // namespace

// ---- Start-up swap ---------------------------------------------------------

Swap apply_staged_update(std::string exe_path)
{
    if (exe_path.empty())
        exe_path = os::process::own_executable();
    if (exe_path.empty() || exe_path.size() > max_exe_path)
        return Swap::Nothing;
    auto slash = exe_path.rfind('/');
    if (slash == std::string::npos)
        return Swap::Nothing;
    auto dir = exe_path.substr(0, slash + 1);
    auto staged_path = dir + staged_file;
    auto old_path = dir + old_file;
    struct stat st {};
    if (::lstat(staged_path.c_str(), &st) != 0)
        return Swap::Nothing;

    auto staged = read_key("staged");
    auto staged_sha = read_key("stagedsha");
    bool verified = false;
    if (!staged.empty() && staged_sha.size() == 64 && S_ISREG(st.st_mode)) {
        auto hash = os::sha256_file(staged_path);
        verified = hash && ascii::equals_ignoring_case(os::to_hex(hash.value()), staged_sha);
    }
    if (!verified) {
        (void)os::remove_file(staged_path);
        write_key("staged", std::nullopt);
        write_key("stagedsha", std::nullopt);
        return Swap::Rejected;
    }

    struct stat exe_st {};
    mode_t mode = ::stat(exe_path.c_str(), &exe_st) == 0 ? (exe_st.st_mode & 07777) : 0755;
    (void)os::remove_file(old_path);
    if (!os::rename_file(exe_path, old_path))
        return Swap::Nothing;
    (void)::chmod(staged_path.c_str(), mode | 0100);
    if (!os::rename_file(staged_path, exe_path)) {
        (void)os::rename_file(old_path, exe_path);
        return Swap::Nothing;
    }
    write_key("applied", staged);
    write_key("staged", std::nullopt);
    write_key("stagedsha", std::nullopt);
    write_key("restarted", "1");
    return Swap::Swapped;
}

int restart(std::string const& exe_path, char* const argv[]) { return os::process::spawn(exe_path, argv); }

bool swap_at_start(char* const argv[])
{
    auto exe_path = os::process::own_executable();
    switch (apply_staged_update(exe_path)) {
    case Swap::Rejected:
        log::bridge("UPD",
            "받아 둔 tillbay2.new 가 검증을 못 넘어 버렸다(반쪽 파일이거나 표식 없음) — 이번 실행은 지금 판으로, 다음 갱신 "
            "확인 때 다시 받는다");
        return false;
    case Swap::Nothing:
        return false;
    case Swap::Swapped:
        break;
    }
    int error = restart(exe_path, argv);
    if (error == 0)
        return true;
    log::bridge("UPD",
        "새 판을 제자리에 놓았는데 다시 켜기에 실패했다 (오류 " + std::to_string(error)
            + ") — 이번 실행은 옛 코드로 계속, 다음 켤 때 새 판");
    return false;
}

// ---- Update state ------------------------------------------------------------

std::string updstate_command(std::string_view state, std::string_view message)
{
    return "\x01updstate</>" + std::string(state) + "</>" + std::string(message);
}

std::string update_state_script(std::string_view state, std::string_view message)
{
    return "window.setUpdateState&&setUpdateState(" + json::quote(state) + "," + json::quote(message) + ")";
}

bool holds_sign_in(std::string_view state)
{
    return state == "app-fetch" || state == "app-ready" || state == "app-fail" || state == "ui-fetch"
        || state == "ui-fail";
}

bool read_and_clear_restarted()
{
    if (read_key("restarted").empty())
        return false;
    write_key("restarted", std::nullopt);
    return true;
}

// ---- Staging -----------------------------------------------------------------

Status stage_program(VersionManifest const& manifest, std::optional<os::http::Endpoint> const& manifest_endpoint,
    std::string_view program_version, std::string const& exe_dir)
{
    if (manifest.app_version.empty() || manifest.app_url.empty())
        return Error::from_detail("no program named");
    std::string base(program_version);
    auto applied = read_key("applied");
    if (version_newer(applied, base))
        base = applied;
    if (!version_newer(manifest.app_version, base))
        return Error::from_detail("program " + manifest.app_version + " is not newer than " + base);
    if (!valid_hash(manifest.app_sha256))
        return fail_text("새 버전에 검증값(sha256)이 없어 받지 않았습니다");

    os::http::Endpoint endpoint;
    std::string path;
    std::string_view url = manifest.app_url;
    if (url.starts_with("/")) {
        if (!manifest_endpoint)
            return fail_text("받아올 서버를 알 수 없습니다");
        endpoint = *manifest_endpoint;
        path = std::string(url);
    } else if (url.starts_with("http://") || url.starts_with("https://")) {
        bool secure = url.starts_with("https://");
        auto rest = url.substr(secure ? 8 : 7);
        auto slash = rest.find('/');
        if (slash == std::string_view::npos || slash == 0 || slash > max_app_host)
            return fail_text("주소를 해석할 수 없습니다");
        endpoint = os::http::endpoint_from_host_text(rest.substr(0, slash),
            secure ? os::http::Security::Secure : os::http::Security::Plain);
        if (endpoint.host.empty())
            return fail_text("주소를 해석할 수 없습니다");
        path = std::string(rest.substr(slash));
    } else {
        return fail_text("주소를 해석할 수 없습니다");
    }

    auto target = with_slash(exe_dir) + staged_file;
    write_key("staged", std::nullopt);
    write_key("stagedsha", std::nullopt);
    (void)os::remove_file(target);
    if (auto downloaded = os::http::get_to_file(endpoint, path, target, 0755); !downloaded) {
        (void)os::remove_file(target);
        return downloaded.release_error();
    }
    auto hash = os::sha256_file(target);
    if (!hash || !ascii::equals_ignoring_case(os::to_hex(hash.value()), manifest.app_sha256)) {
        (void)os::remove_file(target);
        return fail_text("받은 파일이 검증값과 다릅니다 — 버렸습니다");
    }
    auto hex = os::to_hex(hash.value());
    // The version goes last: a staged file is only ever trusted with both keys.
    if (!settings::write_profile(section, "stagedsha", hex) || !settings::write_profile(section, "staged", manifest.app_version)) {
        (void)os::remove_file(target);
        write_key("stagedsha", std::nullopt);
        return Error::from_detail("cannot record the staged program in the settings file");
    }
    return {};
}

// ---- Update check ------------------------------------------------------------

CheckEnvironment this_process()
{
    return { settings::server().webhost, TILLBAY_VERSION, paths::exe_dir(), &bundle::store(), read_key("pubkey"),
        paths::user_file(sequence_file_name) };
}

void run_check(Hooks const& hooks, CheckEnvironment const& env)
{
    auto set_state = [&](std::string const& state, std::string const& message) {
        if (hooks.state)
            hooks.state(state, message);
    };
    bool secure_host = ascii::starts_with_ignoring_case(env.web_host, "https://");
    if (secure_host && !os::http::tls12_available()) {
        if (hooks.status)
            hooks.status("이 PC 는 TLS 1.2 를 쓸 수 없어 갱신을 받지 못합니다 — 운영체제 업데이트를 확인해 주십시오");
        return;
    }
    // A plain-HTTP web host is only ever a private test host.
    auto endpoint = web_host_endpoint(env.web_host);
    if (!endpoint)
        return;
    auto answer = os::http::get(*endpoint, manifest_path, max_version_manifest);
    if (!answer)
        return;
    if (!env.signing_key.empty()) {
        // Nothing from this web host is staged or installed unless the
        // manifest that names it is signed by the configured key.
        auto signature = os::http::get(*endpoint, signature_path, max_signature_text);
        std::optional<std::string_view> signature_text;
        if (signature)
            signature_text = signature.value();
        auto last = read_last_sequence(env.sequence_path, env.signing_key);
        auto checked = check_signed_manifest(answer.value(), signature_text, env.signing_key, last);
        if (!checked) {
            log::bridge("UPD", "갱신 목록을 거절했다 — " + checked.error().detail);
            set_state(signature_state, checked.error().message);
            return;
        }
        if (checked.value().sequence != last) {
            if (auto written = write_last_sequence(env.sequence_path, env.signing_key, checked.value().sequence); !written)
                log::bridge("UPD", "받은 갱신 목록의 순번을 적지 못했다 — " + written.error().detail);
        }
    }
    // A manifest that names neither a program nor a UI version still goes
    // on to the bundle step, which refuses its empty list and says so.
    auto manifest = scan_version_manifest(answer.value());

    if (!manifest.app_version.empty() && version_newer(manifest.app_version, env.program_version)) {
        set_state("app-fetch", "새 판(" + manifest.app_version + ")을 받는 중입니다 — 잠시만 기다려 주세요");
        auto staged = stage_program(manifest, endpoint, env.program_version, env.exe_dir);
        if (staged) {
            set_state("app-ready", "새 판(" + manifest.app_version + ")을 받았습니다 — 「지금 다시 켜기」를 누르면 적용됩니다");
            if (hooks.staged)
                hooks.staged();
        } else {
            auto const& error = staged.error().message;
            set_state("app-fail", "새 판을 받지 못했습니다 — " + (error.empty() ? std::string("잠시 뒤 다시") : error));
            if (!error.empty() && hooks.failed)
                hooks.failed(error);
        }
        return;
    }

    bool restarted = read_and_clear_restarted();
    if (!env.store)
        return;
    if (!manifest.ui_version.empty() && manifest.ui_version != env.store->ui_version())
        set_state("ui-fetch", "화면을 갱신하는 중입니다 (" + manifest.ui_version + ")");
    auto outcome = env.store->install(env.web_host, manifest);
    if (outcome.switched) {
        if (restarted)
            set_state("app-ready", "프로그램은 새 판(" + env.program_version + ")으로 켜졌습니다 · 새 화면(" + manifest.ui_version
                    + ")도 받았습니다 — 한 번만 더 「지금 다시 켜기」를 누르면 끝납니다");
        else
            set_state("app-ready", "새 화면(" + manifest.ui_version + ") 준비가 끝났습니다 — 다시 켜면 적용됩니다");
        return;
    }
    if (!outcome.error.empty()) {
        if (env.store->leased())
            set_state("ui-retained", "새 화면을 받지 못해 현재 화면을 유지합니다 — " + outcome.error);
        else
            set_state("ui-fail", "화면 갱신을 받지 못했습니다 — " + outcome.error);
        return;
    }
    set_state("", "");
    if (!manifest.app_version.empty() && version_newer(env.program_version, manifest.app_version))
        set_state("server-old", "서버 판(" + manifest.app_version + ")이 이 프로그램(" + env.program_version
                + ")보다 낮습니다 — 개발 판으로 보입니다");
}

namespace {

std::mutex g_run_lock;
// Every update thread started, so that the end of the program can join them.
std::mutex g_threads_lock;
std::vector<std::thread> g_threads;

} // namespace

void start_thread(Hooks hooks, CheckEnvironment environment)
{
    std::lock_guard guard(g_threads_lock);
    g_threads.push_back(os::process::start_thread([hooks = std::move(hooks), environment = std::move(environment)] {
        log::guarded("갱신 확인 실패", [&] {
            std::lock_guard run(g_run_lock);
            run_check(hooks, environment);
        });
        if (hooks.finished)
            log::guarded("갱신 끝 알림 실패", [&] { hooks.finished(); });
    }));
}

void join_threads()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard guard(g_threads_lock);
        threads.swap(g_threads);
    }
    for (auto& thread : threads)
        thread.join();
}

void start_thread(Hooks hooks) { start_thread(std::move(hooks), this_process()); }

} // namespace tillbay::update
