#pragma once

// The PC preference commands: how this one PC behaves, kept in the per-user
// preference files and the UI section of the settings file, never sent to
// the server. Alert sound, font sizes, touch mode, the on-screen keyboard of
// the merchant pages, the first-run switch, starting with the desktop
// session; and the owner's few PC-side commands: the owner's keys for the
// page, the address search page and the store position it reports.
//
// `setgpspos` asks the server and runs on the command lane; everything else
// is a small file and runs on the UI thread.

#include "base/result.h"
#include "bridge/family.h"
#include "os/autostart.h"

#include <functional>
#include <string>
#include <string_view>

namespace tillbay::shell {

namespace pref_text {
inline constexpr char const* sound_not_saved = "알림음 설정을 저장하지 못했습니다";
inline constexpr char const* autostart_on = "컴퓨터를 켜면 POS 가 저절로 뜹니다";
inline constexpr char const* autostart_off = "자동 실행을 껐습니다";
inline constexpr char const* autostart_failed = "자동 실행을 등록하지 못했습니다";
inline constexpr char const* autostart_unreachable = "윈도우 시작 목록을 열지 못했습니다";
inline constexpr char const* address_saved = "주소를 수정했습니다";
inline constexpr char const* address_not_saved = "주소를 저장하지 못했습니다";
inline constexpr char const* merchant_sign_in_needed = "가맹점 로그인이 필요합니다";
} // namespace pref_text

// A latitude or longitude as the address page reports it: an optional minus,
// digits, an optional fraction, at most 24 bytes, and within -limit..limit.
bool valid_coordinate(std::string_view text, double limit);

// The address as it goes into the store's command text: "&", "=", "'" and
// control bytes become spaces.
std::string address_for_command(std::string_view address);

struct PreferenceHooks {
    // The absolute path of the running executable ("" when unknown).
    std::function<std::string()> own_executable;
    // Opens the web host's address-search page (UI thread).
    std::function<void()> open_address_page;
    // After the store's position was saved: the address page leaves the
    // history and the store information opens again. Called on the lane;
    // it must hand the work to the UI thread.
    std::function<void()> address_saved;
    // Sends an owner request; the payload, or the refusal or failure text
    // (the signed-in owner's call when empty).
    std::function<Result<std::string>(std::string_view command)> owner_request;
    // Plays the new-order sound once, whatever the sound switch says.
    std::function<void()> play_test_sound;
};

class PreferencesFamily final : public bridge::Family {
public:
    PreferencesFamily(os::Autostart& autostart, PreferenceHooks hooks);
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;
    bridge::Runs runs(std::string_view name) const override;

private:
    void send_autostart(bridge::Page& page);
    void set_autostart(bridge::Command const& command, bridge::Page& page);
    void set_gps_position(bridge::Command const& command, bridge::Page& page);

    os::Autostart& m_autostart;
    PreferenceHooks m_hooks;
};

} // namespace tillbay::shell
