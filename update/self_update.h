#pragma once

// The program's self-update. An update check reads the version manifest from
// the web host; a newer program is downloaded next to the executable as
// "tillbay2.new", verified by SHA-256 and recorded as staged in the settings
// file's UPDATE section; the next start renames it into place before anything
// else runs and restarts. When the program is current, the same check brings
// the UI bundle up to date. Progress reaches the page as an update state: a
// state name and a Korean message.

#include "base/result.h"
#include "os/http.h"
#include "update/manifest.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::bundle {
class Store;
}

namespace tillbay::update {

inline constexpr char const* staged_file = "tillbay2.new";
inline constexpr char const* old_file = "tillbay2.old";
inline constexpr char const* manifest_path = "/v2/pos/version.json";
// The largest version manifest the check reads.
inline constexpr size_t max_version_manifest = 1024 * 1024;

// ---- Start-up swap ---------------------------------------------------------

enum class Swap : int {
    Rejected = -1, // a staged file failed its check and was deleted
    Nothing = 0,   // nothing staged, or the swap failed and the old program stays
    Swapped = 1,   // the new program is in place: restart now
};

// Applies a staged program to the executable at exe_path (the running
// executable when empty). The staged file must still hash to UPDATE/stagedsha.
Swap apply_staged_update(std::string exe_path = {});

// Starts exe_path again with the same arguments (argv[0] included); 0 on
// success, else the error number. The path is the executable's name, not
// /proc/self/exe: after a swap that link names the old program's file.
int restart(std::string const& exe_path, char* const argv[]);

// The whole start-up step: apply, log, and restart. True when this process
// must end at once because the new program has been started.
bool swap_at_start(char* const argv[]);

// ---- Update state ------------------------------------------------------------

struct Hooks {
    // The state reached the page: queue the internal "updstate" command.
    std::function<void(std::string const& state, std::string const& message)> state;
    // A new program was staged: post the "staged" toast message.
    std::function<void()> staged;
    // The automatic update failed with a text: post the failure toast message.
    std::function<void(std::string const& error)> failed;
    // A message for the page's status line.
    std::function<void(std::string const& message)> status;
    // The run has ended, whatever it reported (on the update thread, after
    // every other hook of the run).
    std::function<void()> finished;
};

// "\x01updstate</>" + state + "</>" + message: the internal bridge command.
std::string updstate_command(std::string_view state, std::string_view message);
// "window.setUpdateState&&setUpdateState(" + state + "," + message + ")".
std::string update_state_script(std::string_view state, std::string_view message);
// Sign-in waits while the update is in one of these states.
bool holds_sign_in(std::string_view state);

namespace text {
inline constexpr char const* staged_toast = "새 버전을 받았습니다. 다음에 프로그램을 켜면 적용됩니다.";
inline constexpr char const* failed_toast_prefix = "자동 갱신 실패 — ";
inline constexpr char const* sign_in_held = "프로그램 갱신이 끝난 뒤 로그인할 수 있습니다";
inline constexpr char const* retry_state = "갱신을 다시 받는 중입니다";
inline constexpr char const* page_fetch_state = "화면을 받는 중입니다";
} // namespace text

// ---- Update check ------------------------------------------------------------

struct CheckEnvironment {
    std::string web_host;
    std::string program_version;
    // The executable's folder, with or without a trailing "/".
    std::string exe_dir;
    bundle::Store* store = nullptr;
    // UPDATE/pubkey as configured; empty when manifests are taken unsigned.
    std::string signing_key;
    // The per-user file with the last accepted sequence of a signed manifest.
    std::string sequence_path;
};

// The environment of this process: the settings' web host, this build's
// version, the executable's folder and the process-wide store.
CheckEnvironment this_process();

// One update check (the body of the update thread).
void run_check(Hooks const& hooks, CheckEnvironment const& environment);

// Starts the update thread; runs are serialised, so a second start while one
// runs waits for it and then checks again.
void start_thread(Hooks hooks);
void start_thread(Hooks hooks, CheckEnvironment environment);
// Waits for every update thread to end. The end of the program calls it after
// os::http::abort_all(), so a download in progress ends within a second and
// no update thread outlives the objects its hooks reach.
void join_threads();

// Downloads, verifies and stages the program a manifest names. Fails with a
// Korean text, or with none when there is nothing to fetch.
Status stage_program(VersionManifest const& manifest, std::optional<os::http::Endpoint> const& manifest_endpoint,
    std::string_view program_version, std::string const& exe_dir);

// True when UPDATE/restarted was set; removes it.
bool read_and_clear_restarted();

} // namespace tillbay::update
