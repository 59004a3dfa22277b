#pragma once

// The customer display: the customer page on a second monitor turned towards
// the customer (or in a small test window), fed with a small JSON state that
// the counter pages send. The same state goes to paired tablets through the
// door, so a tablet at the counter can stand in for the monitor.
//
// UI thread only, like the window it drives; only the door's copy of the
// state is shared with the door's thread, under the door lock.

#include "bridge/family.h"
#include "os/customer_screen.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::door {

// The test window's rectangle (TILLBAY_CUSTWIN beginning with "1").
inline constexpr os::ScreenRect test_window_rect { 40, 40, 800, 500 };

// CUSTOMER/on, default 1.
bool customer_on();

struct Placement {
    os::ScreenRect rect;
    os::WindowKind kind = os::WindowKind::Monitor;
    std::string description; // for the settings page: "모니터 2 · 1920×1080"
};

// Where the window goes: the whole area of the first monitor that is not
// the primary one (the first monitor counts as primary when none says it
// is), the test rectangle in test mode, or nowhere.
std::optional<Placement> choose_placement(std::vector<os::Monitor> const& monitors, bool test_mode);

struct CustomerConfig {
    // "file:///.../customer.html" from the UI bundle, or nullopt when it has none.
    std::function<std::optional<std::string>()> page_address;
    // Whether an address is the customer page by the page policy.
    std::function<bool(std::string_view address)> is_customer_page;
    // TILLBAY_CUSTWIN begins with "1".
    bool test_mode = false;
    // The signed-in shop's name for the idle screen; empty before sign-in.
    std::function<std::string()> shop_name;
};

class CustomerDisplay final : public os::CustomerScreenEvents {
public:
    CustomerDisplay(os::CustomerScreen& screen, CustomerConfig config);

    // Opens, moves or closes the window as CUSTOMER/on and the monitors say.
    void apply();
    // The end of the program.
    void close();
    // A state already checked (canonical JSON): kept, handed to the door,
    // and shown when the customer page is ready.
    void set_state(std::string state);
    // The door's reset when the sign-in page opens.
    void reset_to_idle();
    // Shows the last state again (with the shop's name as it is now).
    void resend() { send_state(); }

    std::optional<Placement> placement();
    bool is_open() const { return m_screen.is_open(); }
    std::string const& last_state() const { return m_state; }

    // os::CustomerScreenEvents
    void monitors_changed() override;
    void page_loaded(std::string const& address, bool success) override;

private:
    void send_state();

    os::CustomerScreen& m_screen;
    CustomerConfig m_config;
    std::string m_state;
    bool m_ready = false;
};

// `custshow`, `getcust` and `setcust` in the `pc` family.
class CustomerFamily final : public bridge::Family {
public:
    explicit CustomerFamily(CustomerDisplay& display)
        : m_display(display)
    {
    }
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;

private:
    void answer(bridge::Page& page);

    CustomerDisplay& m_display;
};

} // namespace tillbay::door
