#pragma once

// The page routing: whether and where a store-management page may be opened.
// Pages never navigate the web view to another screen by themselves; they
// ask the bridge, and the routing checks the platform's service gates and
// the sign-in, makes sure the UI bundle in use holds the page, builds its
// address on the UI virtual host, keeps a short history for `back`, and
// navigates. "login.html" and "orders.html" open as local files instead.
//
// A page enters the history when its document has been committed, not when
// it is asked for, so that a navigation the page policy or the engine refused
// never leaves an entry behind. Everything here runs on the UI thread.

#include "bridge/family.h"
#include "bridge/service_state.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::shell {

inline constexpr size_t max_history = 30;
inline constexpr size_t max_page_name = 60;
// Entries of the history that name a page of the old store-page folder.
inline constexpr std::string_view old_page_mark = "old:";

namespace nav_text {
inline constexpr char const* sign_in_needed = "로그인이 필요합니다";
inline constexpr char const* merchant_sign_in_needed = "가맹점 로그인이 필요합니다";
inline constexpr char const* no_web_host = "서버 주소를 알 수 없습니다";
inline constexpr char const* bad_page = "열 수 없는 화면입니다";
inline constexpr char const* maintenance = "서비스 점검중입니다";
} // namespace nav_text

// The back history: page names, newest last, at most max_history.
class PageHistory {
public:
    void clear() { m_entries.clear(); }
    // Adds the name unless it is already the newest; the oldest entry goes
    // when there are more than max_history.
    void push(std::string name);
    // Removes the newest entry when it equals name.
    bool remove_newest_if(std::string_view name);
    void truncate(size_t size);

    std::optional<std::string> newest() const;
    std::vector<std::string> const& entries() const { return m_entries; }
    size_t size() const { return m_entries.size(); }

private:
    std::vector<std::string> m_entries;
};

// Whether a page name may be routed: 1 to 60 bytes, no slash, backslash or
// colon, at most one dot and never two in a row, nothing that would break
// the address (control bytes, spaces, quotes, '#', '<', '>').
bool valid_page_name(std::string_view name);
// Whether a path of the old store-page folder may be opened: plain segments
// of letters, digits, '.', '-' and '_' (none empty, none "." or ".."), an
// optional query, at most 120 bytes.
bool valid_old_page_path(std::string_view path);

struct RouterHooks {
    // The last service status the service watch read.
    std::function<bridge::ServiceBlock()> service_block;
    std::function<bool()> staff_signed_in;
    std::function<bool()> owner_signed_in;
    // The configured web host text (settings `webhost`).
    std::function<std::string()> web_host_text;
    // The bundle page check for a path relative to the bundle
    // ("merchant/menu.html"): true when the page can be shown; otherwise the
    // check has told the user and, when needed, started fetching the bundle.
    std::function<bool(std::string_view relative_path, bridge::Page& page)> page_check;
    // Whether the page policy lets the main web view show the address.
    std::function<bool(std::string_view address)> allowed;
    // Starts a main-frame navigation of the main web view.
    std::function<void(std::string const& address)> navigate;
    // Opens "login.html" or "orders.html" as a local file.
    std::function<void(std::string_view name)> open_local_page;
    // The UI origin ("twpos://ui.tillbay.invalid").
    std::string ui_origin;
};

class PageRouter {
public:
    explicit PageRouter(RouterHooks hooks);

    // Route page: the name may carry a query ("menu.html?x=1").
    void route(std::string_view name, bridge::Page& page);
    // A page of the old store-page folder, "tstorehtml/" + path.
    void open_old_page(std::string_view path, bridge::Page& page);
    // History back: the page before the one on screen, or the order board.
    void back(bridge::Page& page);
    // Clears the history and opens a local page ("orders.html", "login.html").
    void open_local(std::string_view name);

    // "food" or "shop" for the next routing; other values change nothing.
    void set_pending_mode(std::string_view mode);
    std::string const& pending_mode() const { return m_pending_mode; }

    // 1 the printer set-up, 2 the POS settings, for the next page set-up.
    void set_first_run_request(int request) { m_first_run_request = request; }
    int take_first_run_request();

    // A page that reported itself ready: it enters the history unless the
    // newest entry already names the same file (routing has entered it with
    // its query when it opened it).
    void record(std::string_view name, bool old);

    // The main view committed a document at the address: a navigation this
    // router started is entered in the history now.
    void committed(std::string_view address);

    PageHistory& history() { return m_history; }
    PageHistory const& history() const { return m_history; }

private:
    void route_keeping(std::string_view name, bridge::Page& page, size_t keep);
    void open_old_keeping(std::string_view path, bridge::Page& page, size_t keep);
    // Refuses with the login-busy reset first, as the gates do.
    void refuse(bridge::Page& page, std::string_view text);
    // Navigates and remembers what the history gets once the document stands.
    void start(std::string address, std::string entry, size_t keep);

    struct Pending {
        std::string address;
        std::string entry;
        size_t keep = 0; // history entries kept below the new one
    };

    RouterHooks m_hooks;
    PageHistory m_history;
    std::string m_pending_mode;
    std::optional<Pending> m_pending;
    int m_first_run_request = 0;
};

} // namespace tillbay::shell
