#include "door_wiring.h"

#include "bridge/address.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "os/crypto.h"
#include "os/fs.h"
#include "os/lan.h"
#include "session/session.h"
#include "update/bundle.h"

#include <chrono>
#include <cstdlib>
#include <exception>

namespace tillbay::app {

namespace {

// The folders the door serves the UI bundle's files from: the verified
// bundle in use, else the user's unverified copy and the installation's.
std::vector<std::string> ui_folders()
{
    std::vector<std::string> folders;
    if (auto root = bundle::root_in_use())
        folders.push_back(*root);
    if (!bundle::leased()) {
        std::string install = paths::exe_dir();
        if (!install.empty() && install.back() == '/')
            install.pop_back();
        folders.push_back(install);
    }
    return folders;
}

door::DoorHooks door_hooks(bridge::Bridge& bridge)
{
    door::DoorHooks hooks;
    hooks.signed_in_shop = []() -> std::optional<std::string> {
        // One snapshot under the session's lock: the flag and the name agree.
        session::StaffState staff = session::staff();
        if (!staff.signed_in)
            return std::nullopt;
        return staff.shop_name;
    };
    hooks.ui_folders = ui_folders;
    hooks.queue_command = [&bridge](std::string command) { bridge.queue_internal(std::move(command)); };
    hooks.now_ms = [] {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch())
                .count());
    };
    return hooks;
}

bool test_window_mode()
{
    char const* value = std::getenv("TILLBAY_CUSTWIN");
    return value && value[0] == '1';
}

} // namespace

DoorWiring::DoorWiring(bridge::Bridge& bridge, bridge::PagePolicy const& policy, bool developer_extras)
    : m_bridge(bridge)
    , m_door(door_hooks(bridge), [](std::span<uint8_t> out) { return os::random_bytes(out); }, door::Door::Config {})
    , m_firewall(os::firewall::system_firewall())
    , m_tablet_family(m_door, *m_firewall,
          door::TabletHooks { os::lan::ipv4_addresses, [&bridge](std::string command) { bridge.queue_internal(std::move(command)); } })
    , m_window(
          [&policy](std::string_view address) {
              return policy.classify(address, bridge::ViewKind::Customer) == bridge::PageClass::Customer;
          },
          developer_extras)
    , m_display(m_window,
          door::CustomerConfig {
              []() -> std::optional<std::string> {
                  auto path = bundle::resolve("customer.html");
                  if (!path.ok() || !os::file_exists(path.value()))
                      return std::nullopt;
                  return bridge::file_address(path.value());
              },
              [&policy](std::string_view address) {
                  return policy.classify(address, bridge::ViewKind::Customer) == bridge::PageClass::Customer;
              },
              test_window_mode(),
              [] { return session::staff_signed_in() ? session::shop_name() : std::string {}; },
          })
    , m_customer_family(m_display)
{
    m_window.set_events(&m_display);
}

DoorWiring::~DoorWiring()
{
    shut_down();
    m_window.set_events(nullptr);
}

void DoorWiring::attach()
{
    m_bridge.add_family(bridge::FamilySlot::Pc, &m_tablet_family);
    m_bridge.add_family(bridge::FamilySlot::Pc, &m_customer_family);
}

void DoorWiring::start()
{
    try {
        if (door::configured_on()) {
            auto opened = m_door.open(door::configured_port());
            if (!opened.ok())
                m_bridge.queue_internal("\x01toast</>" + opened.error().message);
        }
        m_display.apply();
    } catch (std::exception const& e) {
        log::bridge("DOOR", std::string("태블릿 문과 손님 화면 시작 실패: ") + e.what());
    }
}

void DoorWiring::shut_down()
{
    m_door.close();
    m_display.close();
}

void DoorWiring::before_login_page() { m_display.reset_to_idle(); }

void DoorWiring::page_setup() { m_display.resend(); }

} // namespace tillbay::app
