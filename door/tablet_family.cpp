#include "door/tablet_family.h"

#include "base/ascii.h"
#include "door/door_state.h"
#include "foundation/json_text.h"
#include "foundation/log.h"
#include "foundation/settings.h"

#include <algorithm>
#include <cstdio>

namespace tillbay::door {

namespace {

constexpr std::string_view commands[] = { "gettablet", "settablet", "tablettoken", "tabletfw", "tabletfwclose",
    "tabletfwdone" };

std::string quoted_array(std::vector<std::string> const& items)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i)
            out += ',';
        out += json::quote(items[i]);
    }
    return out + "]";
}

// Ports as "8080,8081", the form of TABLET/fwports and of tabletfwdone.
std::string port_list(std::vector<int> const& ports)
{
    std::string text;
    for (int port : ports) {
        if (!text.empty())
            text += ',';
        text += std::to_string(port);
    }
    return text;
}

// The valid ports of such a list, in order, without repeats.
std::vector<int> parse_port_list(std::string_view text)
{
    std::vector<int> ports;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t comma = text.find(',', pos);
        int port = ascii::leading_int(
            text.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
        if (valid_port(port) && std::find(ports.begin(), ports.end(), port) == ports.end())
            ports.push_back(port);
        if (comma == std::string_view::npos)
            break;
        pos = comma + 1;
    }
    return ports;
}

void remember_ports(std::vector<int> const& ports)
{
    std::string text = port_list(ports);
    (void)settings::write_profile("TABLET", "fwports", text.empty() ? std::nullopt : std::optional<std::string_view>(text));
}

// Tells the page how a firewall change began. Only a started change is
// logged here; tabletfwdone logs its end.
void report_change(bridge::Page& page, os::firewall::Change change, std::string const& started_log,
    std::string const& started, std::string_view no_tool)
{
    switch (change) {
    case os::firewall::Change::Started:
        log::bridge("DOOR", started_log);
        page.status(started);
        break;
    case os::firewall::Change::NoTool:
        page.status(no_tool);
        break;
    case os::firewall::Change::NoElevator:
        page.status("관리자 권한 도구(pkexec)가 없어 방화벽을 바꿀 수 없습니다");
        break;
    case os::firewall::Change::Busy:
        page.status("방화벽 변경을 이미 기다리는 중입니다 — 관리자 확인 창을 확인해 주세요");
        break;
    case os::firewall::Change::Failed:
        page.status("방화벽 도구를 실행하지 못했습니다");
        break;
    }
}

} // namespace

std::vector<std::string> private_addresses(std::vector<std::array<uint8_t, 4>> const& addresses)
{
    std::vector<std::string> out;
    for (auto const& a : addresses) {
        if (a[0] == 127 || a[0] == 169)
            continue;
        bool lan = a[0] == 10 || (a[0] == 192 && a[1] == 168) || (a[0] == 172 && a[1] >= 16 && a[1] <= 31);
        if (!lan)
            continue;
        char text[16];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
        if (std::find(out.begin(), out.end(), text) == out.end())
            out.emplace_back(text);
    }
    return out;
}

std::vector<int> ports_we_opened() { return parse_port_list(settings::read_text("TABLET", "fwports", 256)); }

TabletFamily::TabletFamily(Door& door, os::firewall::Firewall& firewall, TabletHooks hooks)
    : m_door(door)
    , m_firewall(firewall)
    , m_hooks(std::move(hooks))
{
}

bridge::Runs TabletFamily::runs(std::string_view name) const
{
    bool ours = std::find(std::begin(commands), std::end(commands), name) != std::end(commands);
    return ours ? bridge::Runs::OnLane : bridge::Runs::OnUiThread;
}

bridge::Handled TabletFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    std::string_view name = command.name();
    if (name == "gettablet") {
        answer(page);
    } else if (name == "settablet") {
        set_tablet(command, page);
    } else if (name == "tablettoken") {
        auto renewed = m_door.renew_token();
        if (!renewed.ok())
            page.status(renewed.error().message);
        else
            page.status("새 열쇠를 만들었습니다 — 태블릿마다 QR 을 다시 찍어 주세요");
        answer(page);
    } else if (name == "tabletfw") {
        open_firewall(page);
    } else if (name == "tabletfwclose") {
        close_firewall(page);
    } else if (name == "tabletfwdone") {
        // The firewall's outcome, from the program itself only.
        if (!command.internal)
            return bridge::Handled::No;
        firewall_done(command, page);
    } else {
        return bridge::Handled::No;
    }
    return bridge::Handled::Yes;
}

void TabletFamily::set_tablet(bridge::Command const& command, bridge::Page& page)
{
    if (command.arg_count() >= 2 && command.arg(1) == "on") {
        bool on = command.arg(2) == "1";
        (void)settings::write_profile("TABLET", "on", on ? "1" : "0");
        if (on) {
            auto opened = m_door.open(configured_port());
            if (!opened.ok())
                page.status(opened.error().message);
        } else {
            m_door.close();
        }
    } else if (command.arg_count() >= 2 && command.arg(1) == "port") {
        std::string_view text = command.arg(2);
        bool digits = !text.empty() && text.size() <= 5
            && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
        int port = digits ? ascii::leading_int(text) : 0;
        if (!valid_port(port)) {
            page.status("포트는 1024 에서 65535 사이의 숫자여야 합니다");
        } else {
            // The number as read is written, never the page's text.
            (void)settings::write_profile("TABLET", "port", std::to_string(port));
            if (m_door.running() && m_door.bound_port() != port) {
                m_door.close();
                auto opened = m_door.open(port);
                if (!opened.ok())
                    page.status(opened.error().message);
            }
        }
    }
    answer(page);
}

void TabletFamily::open_firewall(bridge::Page& page)
{
    int port = m_door.running() ? m_door.bound_port() : configured_port();
    auto queue = m_hooks.queue_command;
    auto change = m_firewall.open_port(port, [queue, port](bool ok) {
        if (queue)
            queue("tabletfwdone</>open</>" + std::string(ok ? "1" : "0") + "</>" + std::to_string(port));
    });
    report_change(page, change, "방화벽 열기 요청 — 포트 " + std::to_string(port),
        "관리자 확인 창에서 허락하면 방화벽에서 포트 " + std::to_string(port) + " 이 열립니다",
        "이 PC 에는 방화벽 도구(firewalld, ufw)가 없습니다 — 따로 막고 있지 않다면 그대로 쓰면 됩니다");
    answer(page);
}

void TabletFamily::close_firewall(bridge::Page& page)
{
    std::vector<int> ports = ports_we_opened();
    if (ports.empty()) {
        page.status("이 프로그램이 연 방화벽 규칙이 없습니다");
        answer(page);
        return;
    }
    auto queue = m_hooks.queue_command;
    std::string list = port_list(ports);
    auto change = m_firewall.close_ports(ports, [queue, list](bool ok) {
        if (queue)
            queue("tabletfwdone</>close</>" + std::string(ok ? "1" : "0") + "</>" + list);
    });
    report_change(page, change, "방화벽 규칙 지우기 요청 — 포트 " + list,
        "관리자 확인 창에서 허락하면 이 프로그램이 연 방화벽 규칙을 지웁니다",
        "이 PC 에는 방화벽 도구(firewalld, ufw)가 없습니다");
    answer(page);
}

void TabletFamily::firewall_done(bridge::Command const& command, bridge::Page& page)
{
    bool opening = command.arg(1) == "open";
    bool ok = command.arg(2) == "1";
    std::string_view list = command.arg(3);
    std::vector<int> ports = parse_port_list(list);
    std::vector<int> ours = ports_we_opened();
    if (opening && ok) {
        for (int port : ports) {
            if (std::find(ours.begin(), ours.end(), port) == ours.end())
                ours.push_back(port);
        }
        remember_ports(ours);
        log::bridge("DOOR", "방화벽을 열었다 — 포트 " + std::string(list));
        page.status("방화벽에서 포트 " + std::string(list) + " 을 열었습니다");
    } else if (opening) {
        log::bridge("DOOR", "방화벽을 열지 못했다 — 포트 " + std::string(list));
        page.status("방화벽을 열지 못했습니다 — 관리자 확인이 취소되었거나 거절되었습니다");
    } else if (ok) {
        std::erase_if(ours, [&](int port) { return std::find(ports.begin(), ports.end(), port) != ports.end(); });
        remember_ports(ours);
        log::bridge("DOOR", "방화벽 규칙을 지웠다 — 포트 " + std::string(list));
        page.status("이 프로그램이 연 방화벽 규칙을 지웠습니다");
    } else {
        log::bridge("DOOR", "방화벽 규칙을 지우지 못했다 — 포트 " + std::string(list));
        page.status("방화벽 규칙을 지우지 못했습니다 — 관리자 확인이 취소되었거나 거절되었습니다");
    }
    answer(page);
}

std::string TabletFamily::status_json()
{
    int port = m_door.running() ? m_door.bound_port() : configured_port();
    os::firewall::State fw = m_firewall.check(port);
    int fw_value = fw.tool == os::firewall::Tool::None ? -1 : fw.port_open;
    std::string token = m_door.token();
    std::vector<std::string> addresses
        = private_addresses(m_hooks.interface_addresses ? m_hooks.interface_addresses() : std::vector<std::array<uint8_t, 4>> {});
    std::vector<std::string> links;
    for (auto const& address : addresses)
        links.push_back("http://" + address + ":" + std::to_string(port) + "/pair?t=" + token);

    std::string out = "{\"on\":" + std::string(configured_on() ? "1" : "0");
    out += ",\"running\":" + std::string(m_door.running() ? "1" : "0");
    out += ",\"fw\":" + std::to_string(fw_value);
    out += ",\"port\":" + std::to_string(port);
    out += ",\"token\":" + json::quote(token);
    out += ",\"addrs\":" + quoted_array(addresses);
    out += ",\"pair\":" + quoted_array(links);
    out += ",\"log\":[";
    auto entries = log_entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i)
            out += ',';
        out += "{\"at\":" + json::quote(entries[i].at) + ",\"ip\":" + json::quote(entries[i].ip)
            + ",\"what\":" + json::quote(entries[i].what) + "}";
    }
    out += "]";
    // What the firewall is, for the settings page's wording.
    out += ",\"fwtool\":" + json::quote(os::firewall::tool_name(fw.tool));
    out += ",\"fwon\":" + std::string(fw.active ? "1" : "0");
    out += "}";
    return out;
}

void TabletFamily::answer(bridge::Page& page) { page.callback("setTabletCfg", status_json()); }

} // namespace tillbay::door
