#pragma once

// Watches over the board while the platform cannot be reached. Signed in,
// the board shows its kept list read-only (see OrderBoard) and this watch
// reloads it every few seconds, so the banner goes as soon as the platform
// answers again. After a restart during an outage nobody can sign in: the
// login page then offers the kept list of the installation's store
// (`keptboard`), shown read-only on the orders page until the platform can
// be reached again, when the watch goes back to the login page.

#include "bridge/family.h"
#include "orders/order_board.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

namespace tillbay::orders {

// How often an outage is looked at again.
inline constexpr int outage_retry_ms = 5000;

inline constexpr char const* text_nothing_kept = "보관한 주문 목록이 없습니다";

struct OutageHooks {
    // Opens "orders.html" or "login.html"; any thread.
    std::function<void(std::string_view page)> navigate;
    // Whether the platform's API server accepts a connection; blocks.
    std::function<bool()> platform_reachable;
    // Reloads the board on the command lane; any thread.
    std::function<void()> reload;
    // The store whose kept list the login page may offer.
    std::function<int()> kept_store;
    std::function<bool()> signed_in;
};

class OutageWatch final : public bridge::Family {
public:
    OutageWatch(OrderBoard& board, OutageHooks hooks);
    ~OutageWatch() override;

    // `keptboard`: opens the kept list read-only, only while nobody is signed in.
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;
    // It reads the kept file: the command lane.
    bridge::Runs runs(std::string_view name) const override
    {
        return name == "keptboard" ? bridge::Runs::OnLane : bridge::Runs::OnUiThread;
    }

    // After a sign-in that got no answer: setKeptBoard(fetch time) when a
    // list is kept for the store.
    void offer(bridge::Page& page);
    // A page set up with nobody signed in: the kept list, when asked for.
    void show(bridge::Page& page);
    // Sign-out (the orders page's own button): the kept view ends.
    void leave_kept_view() { m_kept_view = false; }

    void start();
    void stop();

private:
    void run();

    OrderBoard& m_board;
    OutageHooks m_hooks;
    std::atomic<bool> m_kept_view { false };
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace tillbay::orders
