#include "shell/preferences.h"

#include "foundation/json_text.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/user_files.h"
#include "server/api.h"
#include "session/session.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tillbay::shell {

namespace {

constexpr size_t max_coordinate = 24;
constexpr std::string_view ui_section = "UI";

// A 0-or-1 switch of the UI section: 1 only when the key holds "1".
int read_switch(std::string_view key) { return settings::read_text(ui_section, key, 16) == "1" ? 1 : 0; }

std::string read_touch_mode()
{
    std::string mode = settings::read_text(ui_section, "touch", 16);
    return mode == "on" || mode == "off" ? mode : std::string("auto");
}

} // namespace

bool valid_coordinate(std::string_view text, double limit)
{
    if (text.empty() || text.size() > max_coordinate)
        return false;
    size_t i = text[0] == '-' ? 1 : 0;
    size_t digits = 0, dots = 0;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9')
            ++digits;
        else if (text[i] == '.' && dots == 0 && digits > 0)
            ++dots;
        else
            return false;
    }
    if (digits == 0 || text.back() == '.')
        return false;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(value) && value >= -limit
        && value <= limit;
}

std::string address_for_command(std::string_view address)
{
    std::string out(address);
    for (char& c : out) {
        auto u = static_cast<unsigned char>(c);
        if (c == '&' || c == '=' || c == '\'' || u < 32 || u == 127)
            c = ' ';
    }
    return out;
}

PreferencesFamily::PreferencesFamily(os::Autostart& autostart, PreferenceHooks hooks)
    : m_autostart(autostart)
    , m_hooks(std::move(hooks))
{
}

bridge::Runs PreferencesFamily::runs(std::string_view name) const
{
    return name == "setgpspos" ? bridge::Runs::OnLane : bridge::Runs::OnUiThread;
}

bridge::Handled PreferencesFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    std::string_view name = command.name();
    if (name == "getsound") {
        page.callback("setSoundOn", userfiles::read_sound_on() ? "1" : "0");
    } else if (name == "setsound") {
        bool on = command.arg(1) != "0";
        if (!userfiles::write_sound(on).ok())
            page.status(pref_text::sound_not_saved);
        page.callback("setSoundOn", userfiles::read_sound_on() ? "1" : "0");
    } else if (name == "testsound") {
        if (m_hooks.play_test_sound)
            m_hooks.play_test_sound();
    } else if (name == "getfontsize") {
        page.callback("setFontSizes", json::quote(userfiles::read_font_sizes()));
    } else if (name == "setfontsize") {
        if (auto written = userfiles::write_font_sizes(command.arg(1)); !written.ok())
            page.status(written.error().message);
    } else if (name == "gettouchmode") {
        page.callback("setTouchMode", json::quote(read_touch_mode()));
    } else if (name == "settouchmode") {
        std::string_view mode = command.arg(1);
        if (mode != "auto" && mode != "on" && mode != "off")
            return bridge::Handled::Yes;
        (void)settings::write_profile(ui_section, "touch", mode);
        page.callback("setTouchMode", json::quote(read_touch_mode()));
    } else if (name == "getmerchantkbd" || name == "setmerchantkbd") {
        bool written = true;
        if (name == "setmerchantkbd") {
            if (command.arg_count() != 1 || (command.arg(1) != "0" && command.arg(1) != "1"))
                return bridge::Handled::Yes;
            written = settings::write_profile(ui_section, "merchant_keyboard", command.arg(1));
        }
        page.callback("setMerchantKeyboard", std::to_string(read_switch("merchant_keyboard")) + (written ? ",true" : ",false"));
    } else if (name == "getsetup" || name == "setsetup") {
        if (name == "setsetup") {
            if (command.arg_count() != 1 || (command.arg(1) != "0" && command.arg(1) != "1"))
                return bridge::Handled::Yes;
            (void)settings::write_profile(ui_section, "setupdone", command.arg(1));
        }
        page.callback("setSetupDone", std::to_string(read_switch("setupdone")));
    } else if (name == "getautostart") {
        send_autostart(page);
    } else if (name == "setautostart") {
        set_autostart(command, page);
    } else if (name == "getownerauth") {
        session::OwnerRecord owner = session::owner();
        if (!owner.signed_in()) {
            page.callback("setOwnerAuth", "'{}'");
            return bridge::Handled::Yes;
        }
        std::string object = "{\"idx\":" + std::to_string(owner.idx) + ",\"storeidx\":" + std::to_string(session::storeidx())
            + ",\"devkey\":" + json::quote(owner.devkey.str()) + "}";
        page.callback("setOwnerAuth", json::quote(object));
    } else if (name == "searchaddress") {
        if (!session::owner_signed_in()) {
            page.status(pref_text::merchant_sign_in_needed);
            return bridge::Handled::Yes;
        }
        if (m_hooks.open_address_page)
            m_hooks.open_address_page();
    } else if (name == "setgpspos") {
        set_gps_position(command, page);
    } else {
        return bridge::Handled::No;
    }
    return bridge::Handled::Yes;
}

void PreferencesFamily::send_autostart(bridge::Page& page)
{
    auto program = m_autostart.program();
    if (!program.ok()) {
        log::bridge("UI", "자동 실행 항목을 읽지 못했다: " + program.error().detail);
        page.callback("setAutoStart", "0");
        return;
    }
    bool exists = program.value().has_value();
    // The program was moved (or reinstalled elsewhere) since the entry was
    // written: the entry follows it, so that the session starts this copy.
    std::string own = m_hooks.own_executable ? m_hooks.own_executable() : std::string {};
    if (exists && !own.empty() && *program.value() != own) {
        if (auto rewritten = m_autostart.set_program(own); !rewritten.ok())
            log::bridge("UI", "자동 실행 항목을 고쳐 쓰지 못했다: " + rewritten.error().detail);
        else
            log::bridge("UI", "자동 실행 항목을 새 위치로 고쳤다: " + own);
    }
    page.callback("setAutoStart", exists ? "1" : "0");
}

void PreferencesFamily::set_autostart(bridge::Command const& command, bridge::Page& page)
{
    long value = std::strtol(std::string(command.arg(1)).c_str(), nullptr, 10);
    if (value != 0) {
        std::string own = m_hooks.own_executable ? m_hooks.own_executable() : std::string {};
        auto written = own.empty() ? Status(Error::from_detail("own executable unknown")) : m_autostart.set_program(own);
        if (!written.ok()) {
            log::bridge("UI", "자동 실행 등록 실패: " + written.error().detail);
            page.status(pref_text::autostart_failed);
        } else {
            page.status(pref_text::autostart_on);
        }
    } else if (auto removed = m_autostart.remove(); !removed.ok()) {
        log::bridge("UI", "자동 실행 항목을 지우지 못했다: " + removed.error().detail);
        page.status(pref_text::autostart_unreachable);
        page.callback("setAutoStart", "0");
        return;
    } else {
        page.status(pref_text::autostart_off);
    }
    send_autostart(page);
}

void PreferencesFamily::set_gps_position(bridge::Command const& command, bridge::Page& page)
{
    if (!session::owner_signed_in() || command.arg_count() != 3)
        return;
    if (!valid_coordinate(command.arg(2), 90) || !valid_coordinate(command.arg(3), 180)) {
        page.status(pref_text::address_not_saved);
        return;
    }
    std::string text = "cmd=50&storeidx=" + std::to_string(session::storeidx()) + "&address="
        + address_for_command(command.arg(1)) + "&lat=" + std::string(command.arg(2)) + "&lng=" + std::string(command.arg(3));
    auto answer = m_hooks.owner_request ? m_hooks.owner_request(text) : api::owner_request_text(text);
    if (!answer.ok()) {
        page.status(answer.error().message.empty() ? std::string(pref_text::address_not_saved) : answer.error().message);
        return;
    }
    page.status(pref_text::address_saved);
    if (m_hooks.address_saved)
        m_hooks.address_saved();
}

} // namespace tillbay::shell
