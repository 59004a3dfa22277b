#include "shell/main_window.h"

#include "base/ascii.h"
#include "foundation/json_text.h"
#include "foundation/log.h"
#include "foundation/user_files.h"
#include "os/fs.h"
#include "session/session.h"
#include "tillbay_version.h"

namespace tillbay::shell {

VersionLine make_version_line(std::string_view program_version, std::string_view ui_version,
    std::string_view server_host)
{
    if (ui_version.size() > 63)
        ui_version = ui_version.substr(0, 63);
    bool production = server_host.find(production_domain_word) != std::string_view::npos;
    std::string label = production ? std::string("운영") : "테스트 " + std::string(server_host);

    VersionLine line;
    line.text = "v" + std::string(program_version);
    if (!ui_version.empty())
        line.text += "  ·  화면" + std::string(ui_version);
    line.text += "  ·  " + label;
    line.title = std::string(window_title);
    if (!production)
        line.title += "  [" + label + "]";
    return line;
}

std::optional<std::string> internal_command_for(AppMessage const& message)
{
    switch (message.id) {
    case AppMessageId::NavRefresh:
        return std::string("\x01navrefresh");
    case AppMessageId::UpdateReady:
        return std::string("\x01toast</>새 버전을 받았습니다. 다음에 프로그램을 켜면 적용됩니다.");
    case AppMessageId::UpdateFailed:
        return std::string("\x01toast</>자동 갱신 실패 — ") + message.text;
    default:
        return std::nullopt;
    }
}

bool read_fullscreen_file(std::string const& path)
{
    if (path.empty())
        return false;
    auto bytes = os::read_prefix(path, 1);
    return bytes.ok() && !bytes.value().empty() && bytes.value()[0] == '1';
}

std::string fullscreen_exit_button_script(bool fullscreen)
{
    return std::string("(function(){var id='posFsExit',b=document.getElementById(id);"
                       "if(location.pathname.indexOf('/merchant/')<0){ if(b)b.remove(); return; }if(")
        + (fullscreen ? "0" : "1")
        + "){ if(b)b.remove(); return; }if(b) return;b=document.createElement('button'); b.id=id; "
          "b.textContent='\\u2921 \\ucc3d \\ubaa8\\ub4dc';b.setAttribute('style','position:fixed;right:10px;"
          "bottom:66px;z-index:2147483647;padding:8px 12px;font:600 13px/1.2 \"Malgun Gothic\",sans-serif;"
          "opacity:.93;border:1px solid rgba(0,0,0,.18);border-radius:9px;background:#fff;color:#111;"
          "box-shadow:0 2px 8px rgba(0,0,0,.18);cursor:pointer');b.onclick=function(){ "
          "tillwave.viewinfo('setfull</>0'); };document.body.appendChild(b);})()";
}

MainWindow::MainWindow(Context context)
    : m_context(std::move(context))
{
}

void MainWindow::set_full(std::optional<std::string_view> argument, bridge::Page& page)
{
    bool target = argument ? ascii::leading_int(*argument) != 0 : !m_fullscreen;
    if (target != m_fullscreen && m_context.port) {
        if (target) {
            if (m_context.port->enter_fullscreen())
                m_fullscreen = true;
        } else {
            m_context.port->leave_fullscreen();
            m_fullscreen = false;
        }
    }
    if (!m_context.fullscreen_path.empty()) {
        // A file that cannot be written only means the choice is not kept.
        (void)os::write_file(m_context.fullscreen_path, m_fullscreen ? "1" : "0");
    }
    page.callback("setFullState", m_fullscreen ? "1" : "0");
    if (m_context.run_page_script)
        m_context.run_page_script(fullscreen_exit_button_script(m_fullscreen));
}

void MainWindow::get_full(bridge::Page& page) const
{
    page.callback("setFullState", m_fullscreen ? "1" : "0");
}

void MainWindow::send_version(bridge::Page& page)
{
    std::string ui = m_context.ui_version ? m_context.ui_version() : std::string();
    std::string host = m_context.server_host ? m_context.server_host() : std::string();
    VersionLine line = make_version_line(TILLBAY_VERSION, ui, host);
    page.callback("setVersion", json::quote(line.text));
    if (m_context.port && m_context.port->window_exists())
        m_context.port->set_title(line.title);
}

void MainWindow::restart(bridge::Page& page)
{
    if (m_context.port && m_context.port->start_new_process()) {
        log::bridge("UPD", "다시 켜기 — 새 판 적용");
        m_context.port->request_close();
        return;
    }
    page.status("다시 켜지 못했습니다 — 프로그램을 끄고 다시 켜 주세요");
}

bool MainWindow::confirm_close()
{
    unsigned pending = m_context.pending_print_jobs ? m_context.pending_print_jobs() : 0;
    if (pending == 0 || !m_context.port)
        return true;
    return m_context.port->ask_yes_no("인쇄 진행 중",
        "전송 중이거나 대기 중인 인쇄가 있습니다. 지금 종료하면 완료되지 않을 수 있습니다. 종료할까요?");
}

void MainWindow::inform(std::string_view text)
{
    if (m_context.test_port && m_context.test_port()) {
        if (m_context.status)
            m_context.status(text);
        return;
    }
    if (!text.empty() && m_context.port)
        m_context.port->inform_box(text);
}

void MainWindow::bring_to_front()
{
    if (m_context.port && m_context.port->window_exists())
        m_context.port->bring_to_front();
}

void MainWindow::send_service_state(bridge::Page& page)
{
    if (m_context.send_service_state)
        m_context.send_service_state(page);
}

ShellFamily::ShellFamily(MainWindow& window, os::WindowPort& port)
    : m_window(window)
    , m_port(port)
{
}

bridge::Handled ShellFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    auto name = command.name();
    if (name == "setfull") {
        if (command.arg_count() >= 1)
            m_window.set_full(command.arg(1), page);
        else
            m_window.set_full(std::nullopt, page);
        return bridge::Handled::Yes;
    }
    if (name == "getfull") {
        m_window.get_full(page);
        return bridge::Handled::Yes;
    }
    if (name == "getposver") {
        m_window.send_version(page);
        return bridge::Handled::Yes;
    }
    if (name == "restartapp") {
        m_window.restart(page);
        return bridge::Handled::Yes;
    }
    if (name == "quitapp") {
        m_port.request_close();
        return bridge::Handled::Yes;
    }
    if (name == "gettheme") {
        page.callback("setTheme", userfiles::read_theme_dark() ? "\"dark\"" : "\"light\"");
        return bridge::Handled::Yes;
    }
    if (name == "settheme") {
        if (!userfiles::write_theme(command.arg(1) == "dark").ok())
            page.status("화면 밝기를 저장하지 못했습니다");
        return bridge::Handled::Yes;
    }
    if (name == "getservice") {
        m_window.send_service_state(page);
        return bridge::Handled::Yes;
    }
    if (name == "getlayout") {
        // No answer at all when the store has no layout yet: the page keeps its own.
        if (auto layout = userfiles::read_layout(session::storeidx()))
            page.callback("setLayout", json::quote(*layout));
        return bridge::Handled::Yes;
    }
    if (name == "savelayout") {
        // The layout is free JSON text in which nothing is escaped; a "</>"
        // inside it has split it into fields, so they are joined back.
        if (!userfiles::save_layout(session::storeidx(), command.args_text()).ok())
            page.status("배치를 저장하지 못했습니다");
        return bridge::Handled::Yes;
    }
    if (name == "needbox") {
        // The status message of a page that has neither setStatus nor
        // TW.toast comes back here; it is shown in a box even under the test
        // port, where a status message would only come back again.
        std::string text = command.args_text();
        if (!text.empty())
            m_port.inform_box(text);
        return bridge::Handled::Yes;
    }
    if (name == "minimizewindow") {
        m_port.minimize();
        return bridge::Handled::Yes;
    }
    return bridge::Handled::No;
}

} // namespace tillbay::shell
