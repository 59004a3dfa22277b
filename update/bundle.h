#pragma once

// The process-wide UI bundle store: the one the program's pages, the tablet
// door and the custom-scheme handler read from. The bundle in use is chosen
// once per process; reading its folder pins that choice.

#include "base/result.h"
#include "update/bundle_store.h"

#include <optional>
#include <string>
#include <string_view>

namespace tillbay::bundle {

// The store of this process, laid out for the web host given to
// set_web_host() (the production layout until then).
Store& store();

// At start-up, from the configured web host: keeps the bundles of each web
// host apart. Only while nothing has pinned the store.
bool set_web_host(std::string_view web_host);

// The folder of the bundle in use (pins the choice); nullopt when none.
std::optional<std::string> root_in_use();
std::string ui_version_in_use();
// Whether a verified release is in use.
bool leased();

// The file to serve for a relative page path ("orders.html", "css/app.css"):
// the file in the bundle in use; not found when a verified release is in use
// but lacks it; otherwise the installation's copy next to the executable,
// which the caller checks for existence. Paths that could leave the folder
// are refused.
Result<std::string> resolve(std::string_view path);

// Whether a page exists in the bundle in use (the page check of merchant pages).
bool page_exists(std::string_view page);

// The page check before a merchant page is shown. The caller shows status in
// the status line, logs log_text under "UI", and, when start_update is set,
// sets the update state to ("ui-fetch", "화면을 받는 중입니다"), sends it to the
// page and starts the update thread.
struct PageCheck {
    bool allow = false;
    std::string status;
    std::string log_text;
    bool start_update = false;
};
PageCheck check_merchant_page(std::string_view page, bool virtual_host_available, std::string_view update_state);

// Start-up: prepares a verified bundle from the installation copy when none
// is in use. True when it switched (log "설치본에서 검증된 화면 묶음을 준비했습니다").
bool seed_from_installation();

// "--rollback-ui" and "--retry-ui" / "updateretry".
Status roll_back();
Status clear_held_back();

} // namespace tillbay::bundle
