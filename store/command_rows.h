#pragma once

// The owner's back-office commands as one table: every command is a row that
// says what it needs (arguments, an owner or a POS sign-in), which request it
// sends, and how its answer reaches the page (page functions, status texts, a
// reload of the list it changed). One runner carries out every row the same
// way, so that every command answers its page in failure as well as in
// success: too few arguments, a value that cannot be sent, a request too long
// for its buffer, no answer, a refusal or an answer cut short all end in the
// row's failure function or one Korean text, never in silence.
//
// A few commands send several requests (a product with its variants, a menu
// with its options, a page's preloads); their rows name a function that does
// the sending with the runner's own helpers.

#include "base/secret.h"
#include "bridge/family.h"
#include "server/api.h"

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace tillbay::store {

// Request buffers: short forms, "cmd=%d&storeidx=%d&value=%s" and the
// benefit setting, review replies, and requests built field by field.
inline constexpr size_t short_limit = 512;
inline constexpr size_t value_limit = 1024;
inline constexpr size_t reply_limit = 2048;
inline constexpr size_t built_limit = 32768;

inline constexpr char const* text_owner_needed = "가맹점 로그인이 필요합니다";
inline constexpr char const* text_pos_needed = "로그인이 필요합니다";
inline constexpr char const* text_missing = "필요한 값이 빠져 있어 보내지 않았습니다";
inline constexpr char const* text_no_answer = "서버에 연결하지 못했습니다";
inline constexpr char const* text_refused = "요청이 거절되었습니다";

// The bridge slot a row's command lives in.
enum class Slot { Menu, Store, Product, Pc, Sales, History };

// Owner calls carry the owner's encrypted command; staff requests are store
// calls of the POS session.
enum class Path { Owner, Staff };

// What the status line says when a change was accepted: the row's own text,
// or the server's `msg` (the row's text when the server gave none).
enum class Shows { RowText, ServerMessage };

struct Outcome {
    enum class Kind { NotSent, NoAnswer, Refused, Accepted };
    Kind kind = Kind::NotSent;
    std::string code;    // resultCode
    SecretString payload; // the owner payload, or a store call's resultData
    std::string reason;  // the user's text when it failed

    bool accepted() const { return kind == Kind::Accepted; }
    bool answered() const { return kind == Kind::Accepted || kind == Kind::Refused; }
};

// The server calls rows make; tests put recorders in their place.
struct Calls {
    // The answer, whatever its resultCode; the error's message is the
    // user's text when no answer came.
    std::function<Result<api::OwnerResult>(std::string_view command)> owner;
    std::function<Result<api::StoreResult>(std::string_view command)> staff;
    static Calls standard();
};

// What the commands need from the rest of the program. Each hook is
// optional; without one its command tells the user it cannot be done here.
struct StoreHooks {
    // Page routing of the navigation family ("storegood.html",
    // "menu-edit.html?mode=add"). UI thread.
    std::function<void(std::string_view page)> route_page;
    // merchready's back-navigation entry (name, old store-page folder). Lane.
    std::function<void(std::string_view page, bool old)> record_page;
    // Reloads the order board after a table move. Lane.
    std::function<void(bridge::Page& page)> refresh_order_board;
    // The kitchen display's order-list poll. Lane.
    std::function<void(bridge::Page& page)> poll_order_list;
    // The web view's print dialog; false when there is none. UI thread.
    std::function<bool()> print_page;
    // Runs a whole script in the command's page. UI thread.
    std::function<void(bridge::Page& page, std::string const& script)> run_script;
    // Opens an http(s) address with the desktop's default handler. UI thread.
    std::function<bool(std::string const& address)> open_address;
};

// What a page set up before it is opened: the menu to edit and the category
// a new menu goes into. Written on the UI thread, read on the lane.
class EditState {
public:
    void set(std::string menuidx, std::string category);
    std::pair<std::string, std::string> get() const;

private:
    mutable std::mutex m_lock;
    std::string m_menuidx;
    std::string m_category;
};

struct Context {
    Calls calls;
    StoreHooks hooks;
    EditState edit;
};

class RowRun;

struct Row {
    std::string_view name;
    Slot slot = Slot::Menu;
    size_t min_args = 0;
    Path path = Path::Owner;
    // "(owner)" rows refuse before sending when no owner is signed in.
    bool owner_only = false;
    // The request pattern (see request_text.h), or a builder for requests
    // whose shape depends on the arguments.
    std::string_view request;
    Result<SecretString> (*build)(RowRun& run) = nullptr;
    size_t limit = short_limit;
    // A read: the page function that gets the payload as a JSON string.
    std::string_view on_ok;
    // The page function a failure calls, with these arguments.
    std::string_view on_fail;
    std::string_view fail_args;
    // A change: the status texts.
    std::string_view ok_text;
    std::string_view fail_text;
    std::string_view refused_text;
    Shows shows = Shows::RowText;
    // A page function called last, whatever happened (a spinner to stop).
    std::string_view then_call;
    std::string_view then_args;
    // The list a change affects, read again once the server has answered.
    std::string_view reload;
    std::string_view reload_cb;
    // A row's own handling of the answer, of a failure, or of everything
    // after the checks.
    void (*finish)(RowRun& run, Outcome const& outcome) = nullptr;
    void (*fail_shape)(RowRun& run, std::string_view message, bool net) = nullptr;
    void (*custom)(RowRun& run) = nullptr;
    std::string_view owner_text = text_owner_needed;
};

// One command being carried out by its row.
class RowRun {
public:
    RowRun(Row const& row, bridge::Command const& command, bridge::Page& page, Context& context);

    // The checks, the request, the answer, in that order.
    void execute();

    Row const& row() const { return m_row; }
    bridge::Command const& command() const { return m_command; }
    bridge::Page& page() { return m_page; }
    Context& context() { return m_context; }
    std::string_view arg(size_t i) const { return m_command.arg(i); }
    int storeidx() const;

    // The pattern filled with this command's arguments.
    Result<SecretString> fill(std::string_view pattern) const;
    // Sends a request on the row's path; a request that does not fit the
    // limit is not sent.
    Outcome send(std::string_view request, size_t limit);
    Outcome send(std::string_view request) { return send(request, m_row.limit); }
    // The failure answer: the row's failure shape, or the status text and
    // the row's failure function.
    void fail(std::string_view message, bool net = false);
    // The text a failed outcome shows: the row's text and the reason.
    std::string failure_text(Outcome const& outcome, std::string_view own_text) const;
    // An owner request whose payload goes to a page function; failures show
    // their text and call failure_function when one is named.
    bool read_into(std::string_view pattern, std::string_view function, std::string_view failure_function = {});

    // The row's usual handling of an answer: its page functions, texts and reload.
    void answer(Outcome const& outcome);

    void status(std::string_view text) { m_page.status(text); }
    void callback(std::string_view name, std::string_view args) { m_page.callback(name, args); }

private:
    Row const& m_row;
    bridge::Command const& m_command;
    bridge::Page& m_page;
    Context& m_context;
};

// A server text fit to show a user: not empty, not JSON, not too long.
bool readable_reason(std::string_view text);

} // namespace tillbay::store
