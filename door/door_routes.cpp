#include "door/door_routes.h"

#include "base/ascii.h"
#include "door/door_state.h"
#include "door/door_token.h"
#include "door/http_response.h"
#include "foundation/json_text.h"
#include "os/tree.h"
#include "tillbay_version.h"

#include <algorithm>

namespace tillbay::door {

namespace {

constexpr size_t logged_body_bytes = 30;

constexpr char text_not_signed_in[] = "{\"ok\":0,\"why\":\"POS 가 로그인돼 있지 않습니다\"}";
constexpr char text_no_file[] = "{\"ok\":0,\"why\":\"없는 파일\"}";
constexpr char text_refused[] = "{\"ok\":0}";

std::string cookie_line(std::string_view token) { return "Set-Cookie: ttk=" + std::string(token) + "; Path=/; SameSite=Lax\r\n"; }

// The path's segments are plain names: none empty, none "." (the relative
// name must never turn into an absolute path or leave the folder).
bool plain_segments(std::string_view rel)
{
    size_t start = 0;
    while (start <= rel.size()) {
        size_t slash = rel.find('/', start);
        std::string_view segment = rel.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (segment.empty() || segment == "." || segment.find('\0') != std::string_view::npos)
            return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
    return true;
}

bool act_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '<' || c == '/' || c == '>';
}

bool act_arg_char(char c) { return (c >= '0' && c <= '9') || c == '<' || c == '/' || c == '>'; }

} // namespace

bool is_private(os::net::Peer const& peer)
{
    if (!peer.is_ipv4)
        return false;
    auto const& a = peer.ipv4;
    return a[0] == 10 || a[0] == 127 || (a[0] == 192 && a[1] == 168) || (a[0] == 172 && a[1] >= 16 && a[1] <= 31);
}

DoorRoutes::DoorRoutes(DoorHooks hooks)
    : m_hooks(std::move(hooks))
{
}

std::string DoorRoutes::busy_answer()
{
    return format_json(503, "{\"ok\":0,\"why\":\"접속이 너무 많습니다 — 잠시 뒤 다시 시도해 주세요\"}");
}

std::optional<std::string> DoorRoutes::answer(os::net::Peer const& peer, std::string_view received, bool ended)
{
    ReadOutcome outcome = read_request(received, ended);
    switch (outcome.state) {
    case ReadOutcome::State::NeedMore:
        if (!ended)
            return std::nullopt;
        return reader_failure(peer, received);
    case ReadOutcome::State::Failed:
        return reader_failure(peer, received);
    case ReadOutcome::State::Done:
        break;
    }
    return route(outcome.request, peer);
}

std::string DoorRoutes::reader_failure(os::net::Peer const& peer, std::string_view received)
{
    std::string_view first = kept_prefix(received);
    if (first.empty()) {
        append_log(peer.text, "(빈 연결 — 브라우저가 미리 열어 둔 것, 정상)", LogCut::Whole);
        return {};
    }
    if (static_cast<unsigned char>(first[0]) == 0x16) {
        append_log(peer.text, "(https 로 들어옴 — 주소를 http:// 로 열어야 합니다)", LogCut::Whole);
        return {};
    }
    std::string shown = "?? 못 읽음: ";
    for (char c : first)
        shown += (c >= 32 && c <= 126) ? c : '.';
    append_log(peer.text, shown, LogCut::Whole); // 48 printable bytes at most
    return format_json(400, "{\"ok\":0,\"why\":\"bad request\"}");
}

std::string DoorRoutes::route(Request const& request, os::net::Peer const& peer)
{
    std::string what = request.method + " " + request.path;
    if (!request.body.empty())
        what += " " + request.body.substr(0, logged_body_bytes);
    append_log(peer.text, what);

    if (!is_private(peer))
        return format_json(403, "{\"ok\":0,\"why\":\"사설망 밖\"}");

    std::optional<std::string> shop = m_hooks.signed_in_shop ? m_hooks.signed_in_shop() : std::nullopt;
    if (request.path == "/ping")
        return format_json(200,
            "{\"ok\":1,\"pos\":" + json::quote(TILLBAY_VERSION) + ",\"store\":" + json::quote(shop.value_or("")) + "}");

    std::string token = m_hooks.token ? m_hooks.token() : std::string {};
    if (!is_authorised(request, token))
        return format_json(401, "{\"ok\":0,\"why\":\"열쇠가 없습니다 — POS 설정의 QR 을 찍어 짝을 맺으세요\"}");
    std::string cookie = carries_token_in_query(request, token) ? cookie_line(token) : std::string {};

    if (request.method == "GET") {
        if (request.path == "/pair")
            return format_response(302, "text/plain", {}, "Location: /choose\r\n" + cookie_line(token));
        if (request.path == "/" || request.path == "/choose")
            return format_response(200, html_type, chooser_page(), cookie);
        if (request.path == "/state")
            return polled(request, customer_state(), cookie);
        if (request.path == "/kds/orders") {
            if (!shop)
                return format_json(503, text_not_signed_in);
            std::string list = kitchen_list();
            if (list.empty())
                return format_json(503, "{\"ok\":0,\"why\":\"POS 가 아직 목록을 못 받았습니다\"}");
            return polled(request, list, cookie);
        }
        return static_file(request.path, cookie);
    }
    if (request.method == "POST") {
        if (request.path != "/act")
            return format_json(404, text_refused);
        return act(request.body);
    }
    return format_json(405, text_refused);
}

std::string DoorRoutes::polled(Request const& request, std::string const& body, std::string const& cookie)
{
    std::string etag = etag_of(body);
    std::string etag_line = "ETag: " + etag + "\r\n";
    if (request.header("if-none-match") == etag)
        return format_response(304, "application/json", {}, etag_line);
    return format_json(200, body, cookie + etag_line);
}

std::string DoorRoutes::static_file(std::string_view path, std::string const& cookie)
{
    if (path.empty() || path.front() != '/' || path.find("..") != std::string_view::npos
        || path.find('\\') != std::string_view::npos || path.find(':') != std::string_view::npos)
        return format_json(400, text_refused);
    std::string_view rel = path.substr(1);
    if (!plain_segments(rel))
        return format_json(400, text_refused);
    auto type = content_type_for(rel);
    if (!type)
        return format_json(404, text_no_file);
    std::vector<std::string> folders = m_hooks.ui_folders ? m_hooks.ui_folders() : std::vector<std::string> {};
    for (auto const& folder : folders) {
        if (folder.empty())
            continue;
        auto content = os::tree::read_beneath(folder, rel, max_static_file);
        if (!content.ok())
            continue;
        std::string body = content.release_value();
        if (type->starts_with("text/html"))
            body = with_tablet_script(body);
        return format_response(200, *type, body, cookie);
    }
    return format_json(404, text_no_file);
}

std::string DoorRoutes::act(std::string_view body)
{
    if (body.size() > max_act_bytes)
        return format_json(400, "{\"ok\":0,\"why\":\"too long\"}");
    if (!std::all_of(body.begin(), body.end(), act_char))
        return format_json(400, "{\"ok\":0,\"why\":\"bad chars\"}");
    size_t separator = body.find("</>");
    std::string_view name = body.substr(0, separator);
    if (std::find(std::begin(door_commands), std::end(door_commands), name) == std::end(door_commands)) {
        std::string quoted = json::quote(name);
        return format_json(403,
            "{\"ok\":0,\"why\":\"이 문으로는 못 하는 일입니다: " + quoted.substr(1, quoted.size() - 2) + "\"}");
    }
    std::string_view args = separator == std::string_view::npos ? std::string_view {} : body.substr(separator + 3);
    if (!std::all_of(args.begin(), args.end(), act_arg_char))
        return format_json(400, "{\"ok\":0,\"why\":\"bad args\"}");
    if (!m_hooks.signed_in_shop || !m_hooks.signed_in_shop())
        return format_json(503, text_not_signed_in);
    if (name == "refreshorders") {
        // A wall of tablets asks for the same list: one reload per period serves them all.
        uint64_t now = m_hooks.now_ms ? m_hooks.now_ms() : 0;
        uint64_t last = m_last_refresh.load();
        if (m_refreshed.load() && now - last < refresh_interval_ms)
            return format_json(200, "{\"ok\":1}");
        m_last_refresh.store(now);
        m_refreshed.store(true);
    }
    if (m_hooks.queue_command)
        m_hooks.queue_command(std::string(body));
    return format_json(200, "{\"ok\":1}");
}

std::string with_tablet_script(std::string_view html)
{
    std::string script = "<script>";
    script += tablet_script();
    script += "</script>";
    std::string head = ascii::lowered(html.substr(0, head_search_bytes));
    size_t at = head.find("<head>");
    size_t insert_at = at == std::string::npos ? 0 : at + 6;
    std::string out;
    out.reserve(html.size() + script.size());
    out += html.substr(0, insert_at);
    out += script;
    out += html.substr(insert_at);
    return out;
}

} // namespace tillbay::door
