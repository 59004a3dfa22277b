#pragma once

// Everything the running program is made of, owned in one place so that the
// end of the program can stop the workers before the objects they reach go.

#include "alert_wiring.h"
#include "discovery_wiring.h"
#include "door_wiring.h"
#include "main_view.h"
#include "printing_wiring.h"
#include "nav_wiring.h"
#include "store_wiring.h"
#include "update_wiring.h"

#include "bridge/lane.h"
#include "bridge/policy.h"
#include "orders/order_wiring.h"
#include "os/linux/gtk_main_window.h"
#include "os/linux/webkit_automation.h"
#include "server/login_family.h"
#include "shell/app_queue.h"
#include "shell/main_window.h"
#include "shell/service_watch.h"

#include <memory>
#include <mutex>

namespace tillbay::app {

// The update state: written by the update thread's reports on the UI thread,
// read by the sign-in on the command lane.
class UpdateStateBox {
public:
    server::UpdateState get() const
    {
        std::lock_guard lock(m_lock);
        return m_state;
    }
    void set(server::UpdateState state)
    {
        std::lock_guard lock(m_lock);
        m_state = std::move(state);
    }

private:
    mutable std::mutex m_lock;
    server::UpdateState m_state;
};

struct Program {
    std::unique_ptr<shell::AppQueue> app_queue;
    std::unique_ptr<gtk::MainWindow> window;
    std::unique_ptr<shell::MainWindow> shell;
    std::unique_ptr<shell::ShellFamily> shell_family;
    std::unique_ptr<bridge::PagePolicy> policy;
    std::unique_ptr<MainView> view;
    bridge::Lane lane { "command lane" };
    std::unique_ptr<gtk::AutomationServer> automation;
    std::unique_ptr<shell::ServiceWatch> service_watch;
    std::unique_ptr<server::LoginFamily> login_family;
    std::unique_ptr<UpdateRetryFamily> update_retry;
    std::unique_ptr<orders::OrderWiring> orders;
    std::unique_ptr<AlertWiring> alert;
    std::unique_ptr<StoreWiring> store;
    std::unique_ptr<DiscoveryWiring> discovery;
    std::unique_ptr<DoorWiring> door;
    std::unique_ptr<PrintingWiring> printing;
    std::unique_ptr<NavWiring> nav;
    UpdateStateBox update_state;
    bool test_port = false;
    bool workers_stopped = false;
    int exit_code = 0;
};

// Stops and joins every worker; safe to call more than once.
void stop_workers(Program& program);

} // namespace tillbay::app
