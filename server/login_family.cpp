#include "server/login_family.h"

#include "foundation/json_text.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/user_files.h"
#include "server/api.h"
#include "session/session.h"
#include "server/signin.h"

#include <array>
#include <cstdlib>

namespace tillbay::server {

namespace {

constexpr size_t max_login_mode = 31;
constexpr size_t max_saved_id = 127;

std::string saved_id(std::string_view mode)
{
    return settings::read_text("LOGIN", mode == "merch" ? "merchid" : "id", max_saved_id + 1);
}

bool update_in_progress(std::string_view state)
{
    static constexpr std::array<std::string_view, 5> busy = { "app-fetch", "app-ready", "app-fail", "ui-fetch",
        "ui-fail" };
    for (auto name : busy) {
        if (state == name)
            return true;
    }
    return false;
}

// "1", "2", ... but not "0", "" or "yes".
bool nonzero_number(std::string_view text)
{
    if (text.empty())
        return false;
    std::string copy(text);
    char* end = nullptr;
    long value = std::strtol(copy.c_str(), &end, 10);
    return end != copy.c_str() && value != 0;
}

} // namespace

LoginFamily::LoginFamily(LoginHooks hooks)
    : m_hooks(std::move(hooks))
{
}

bridge::Handled LoginFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    auto name = command.name();
    if (name == "loginready")
        loginready(page);
    else if (name == "setloginmode")
        setloginmode(command, page);
    else if (name == "login")
        login(command, page);
    else if (name == "logout")
        logout(page);
    else if (name == "merchlogin")
        merchlogin(command, page);
    else if (name == "merchlogout")
        merchlogout(page);
    else if (name == "getmaindash")
        getmaindash(page);
    else
        return bridge::Handled::No;
    return bridge::Handled::Yes;
}

bridge::Runs LoginFamily::runs(std::string_view name) const
{
    bool asks_server = name == "login" || name == "merchlogin" || name == "getmaindash";
    return asks_server ? bridge::Runs::OnLane : bridge::Runs::OnUiThread;
}

void LoginFamily::loginready(bridge::Page& page)
{
    if (m_hooks.send_update_state)
        m_hooks.send_update_state(page);
    if (m_hooks.send_server_down)
        m_hooks.send_server_down(page);
    if (settings::take_migrated_flag())
        page.status("설정을 새 기준(암호화 접속)으로 옮겼습니다");
    std::string mode = settings::read_text("LOGIN", "mode", max_login_mode + 1);
    if (mode.empty())
        mode = "pos";
    page.callback("setLoginMode", json::quote(mode));
    std::string id = saved_id(mode);
    if (!id.empty())
        page.callback("setSavedId", json::quote(id));
    // The sign-in page shows a maintenance notice from the start, not only
    // once the service block changes.
    if (m_hooks.send_service_block)
        m_hooks.send_service_block(page);
}

void LoginFamily::setloginmode(bridge::Command const& command, bridge::Page& page)
{
    std::string_view mode = command.arg(1) == "merch" ? "merch" : "pos";
    (void)settings::write_profile("LOGIN", "mode", mode);
    page.callback("setSavedId", json::quote(saved_id(mode)));
}

bool LoginFamily::refused(bridge::Page& page)
{
    std::string message;
    UpdateState update = m_hooks.update_state ? m_hooks.update_state() : UpdateState {};
    if (update_in_progress(update.name))
        message = update.message.empty() ? "프로그램 갱신이 끝난 뒤 로그인할 수 있습니다" : update.message;
    else if (!settings::server().tls)
        message = "암호화(TLS)가 꺼져 있어 접속하지 않습니다 — tillbay.ini [SERVER] tls=1 로 켠 뒤 다시 실행해 주세요";
    else
        return false;
    page.callback("setLoginBusy", "0");
    page.status(message);
    return true;
}

void LoginFamily::login(bridge::Command const& command, bridge::Page& page)
{
    if (refused(page) || command.arg_count() < 2)
        return;
    SecretString password(std::string(command.arg(2)));
    auto signed_in = signin::staff(api::configured_endpoint(), command.arg(1), password.str());
    if (!signed_in.ok()) {
        page.callback("setLoginError", json::quote(signed_in.error().message));
        if (signed_in.error().code == signin::no_answer && m_hooks.offer_kept_board)
            m_hooks.offer_kept_board(page);
        return;
    }
    auto const& staff = signed_in.value();
    session::set_staff(staff.storeidx, staff.useridx, staff.shop_name, false);
    session::set_saved_staff_token(std::nullopt);
    if (m_hooks.push_store_changed)
        m_hooks.push_store_changed(staff.storeidx);
    session::clear_owner();
    if (command.arg_count() >= 3 && nonzero_number(command.arg(3)))
        (void)settings::write_profile("LOGIN", "id", command.arg(1));
    else
        (void)settings::write_profile("LOGIN", "id", std::nullopt);
    if (m_hooks.navigate)
        m_hooks.navigate("orders.html");
}

void LoginFamily::sign_out_staff(bridge::Page& page)
{
    session::clear_staff();
    if (m_hooks.push_stop)
        m_hooks.push_stop();
    if (m_hooks.send_server_down)
        m_hooks.send_server_down(page);
}

void LoginFamily::logout(bridge::Page& page)
{
    sign_out_staff(page);
    if (m_hooks.navigate)
        m_hooks.navigate("login.html");
}

void LoginFamily::merchlogin(bridge::Command const& command, bridge::Page& page)
{
    if (refused(page) || command.arg_count() < 2)
        return;
    SecretString password(std::string(command.arg(2)));
    auto signed_in = [&] {
        SecretString key = settings::app_key();
        SecretString iv = settings::app_iv();
        return signin::owner(api::configured_endpoint(), key.str(), iv.str(), command.arg(1), password.str());
    }();
    if (!signed_in.ok()) {
        page.callback("setMerchError", json::quote(signed_in.error().message));
        return;
    }
    session::OwnerRecord const& record = signed_in.value();
    bool owner_was_active = session::owner_signed_in();
    session::StaffState before = session::staff();

    session::set_owner(record);
    userfiles::remove_merchant_file();
    (void)settings::write_profile("LOGIN", "merchid", command.arg(1));

    if (!before.signed_in || before.storeidx != record.storeidx) {
        // The POS follows the owner into the owner's store. A token of
        // another store's staff member must not travel with this store's
        // commands, so it goes before the owner token is fetched.
        session::set_saved_staff_token(std::nullopt);
        session::set_access_token(std::nullopt);
        session::set_staff(record.storeidx, record.idx, record.name, true);
        if (m_hooks.push_store_changed)
            m_hooks.push_store_changed(record.storeidx);
        if (!api::fetch_owner_token().ok())
            log::bridge("UI", "가맹점 토큰을 받지 못했습니다");
        auto shop = api::store_call("cmd=53&storeidx=" + std::to_string(record.storeidx));
        if (shop.ok()) {
            std::string name;
            if (json::text_field(shop.value().resultData, "shopname", name, session::max_shop_name + 1) && !name.empty())
                session::set_shop_name(name);
        }
    } else {
        if (!owner_was_active && !before.owner_made)
            session::set_saved_staff_token(session::access_token().str());
        if (!api::fetch_owner_token().ok())
            log::bridge("UI", "가맹점 토큰을 받지 못했습니다");
    }

    if (command.arg(3) == "go") {
        if (m_hooks.navigate)
            m_hooks.navigate("home.html");
        return;
    }
    page.callback("setMerchState", "1," + std::to_string(session::storeidx()) + "," + json::quote(record.name));
    page.status("가맹점 로그인 완료");
}

void LoginFamily::merchlogout(bridge::Page& page)
{
    bool owner_was_active = session::owner_signed_in();
    userfiles::remove_merchant_file();
    session::clear_owner();
    if (session::staff().owner_made) {
        sign_out_staff(page);
        page.status("가맹점 로그아웃 — POS 도 닫았습니다");
        if (m_hooks.navigate)
            m_hooks.navigate("login.html");
        return;
    }
    // The staff member's own token comes back. Without an owner there was no
    // owner token in use, and the staff token stays as it is.
    if (owner_was_active) {
        SecretString saved = session::saved_staff_token();
        if (!saved.empty())
            session::set_access_token(saved.str());
        else if (session::staff_signed_in())
            session::set_access_token(std::nullopt);
        session::set_saved_staff_token(std::nullopt);
    }
    page.callback("setMerchState", "0,0,''");
}

void LoginFamily::getmaindash(bridge::Page& page)
{
    if (!session::owner_signed_in()) {
        page.status("가맹점 로그인이 필요합니다");
        return;
    }
    auto answer = api::owner_call("cmd=55&storeidx=" + std::to_string(session::storeidx()));
    if (!answer.ok()) {
        page.status(answer.error().message.empty() ? "서버에 연결하지 못했습니다" : answer.error().message);
        return;
    }
    std::string payload = answer.value().payload_text();
    if (!answer.value().accepted()) {
        page.status(payload.empty() ? "요청이 거절되었습니다" : payload);
        return;
    }
    page.callback("setMainDash", json::quote(payload));
    int storetype = json::int_field(payload, "storetype", 0);
    if (storetype >= 1 && storetype <= 3)
        page.callback("applyStoreType", std::to_string(storetype) + ",true");
}

} // namespace tillbay::server
