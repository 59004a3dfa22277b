#include "alert_wiring.h"

#include "foundation/log.h"


namespace tillbay::app {

AlertWiring::AlertWiring(gtk::AlertConfig config)
    : m_desktop(std::move(config))
    , m_port(m_desktop)
    , m_alert(m_port)
    , m_pc_family(m_alert, m_port)
    , m_history_family(m_alert)
{
    m_desktop.set_events(this);
}

AlertWiring::~AlertWiring()
{
    shut_down();
    m_desktop.set_events(nullptr);
}

void AlertWiring::attach(bridge::Bridge& bridge)
{
    m_pc_family.set_dispatch(
        [&bridge](std::string_view text, uint64_t generation) { bridge.dispatch(text, generation, true); });
    bridge.add_family(bridge::FamilySlot::Pc, &m_pc_family);
    bridge.add_family(bridge::FamilySlot::History, &m_history_family);
}

void AlertWiring::start()
{
    m_alert.add_tray();
    m_alert.create_badge();
}

void AlertWiring::shut_down()
{
    m_alert.shut_down();
    m_desktop.kill_flash_timer();
}

void AlertWiring::tick()
{
    log::guarded("알림 타이머 실패", [&] { m_alert.tick(); });
}

void AlertWiring::play_test_sound() { m_desktop.play(os::Sound::NonTable); }

void AlertWiring::flash_ended()
{
    log::guarded("알림 깜빡임 종료 실패", [&] { m_alert.flash_end(); });
}

void AlertWiring::badge_pressed(int x, int y) { m_alert.badge_pressed(x, y); }
void AlertWiring::badge_dragged(int x, int y) { m_alert.badge_dragged(x, y); }
void AlertWiring::badge_released() { m_alert.badge_released(); }

} // namespace tillbay::app
