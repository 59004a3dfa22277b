#include "orders/outage_watch.h"

#include "foundation/log.h"
#include "os/process.h"

#include <chrono>

namespace tillbay::orders {

OutageWatch::OutageWatch(OrderBoard& board, OutageHooks hooks)
    : m_board(board)
    , m_hooks(std::move(hooks))
{
}

OutageWatch::~OutageWatch() { stop(); }

bridge::Handled OutageWatch::handle(bridge::Command const& command, bridge::Page& page)
{
    if (command.name() != "keptboard")
        return bridge::Handled::No;
    if (m_hooks.signed_in && m_hooks.signed_in())
        return bridge::Handled::Yes;
    int store = m_hooks.kept_store ? m_hooks.kept_store() : 0;
    if (!m_board.kept(store)) {
        page.status(text_nothing_kept);
        return bridge::Handled::Yes;
    }
    m_kept_view = true;
    log::bridge("ORDER", "연결 끊김 중 보관한 주문 목록을 연다 (매장 " + std::to_string(store) + ")");
    if (m_hooks.navigate)
        m_hooks.navigate("orders.html");
    return bridge::Handled::Yes;
}

void OutageWatch::offer(bridge::Page& page)
{
    int store = m_hooks.kept_store ? m_hooks.kept_store() : 0;
    if (auto kept = m_board.kept(store))
        page.callback("setKeptBoard", std::to_string(kept->fetched_at_ms));
}

void OutageWatch::show(bridge::Page& page)
{
    if (!m_kept_view)
        return;
    int store = m_hooks.kept_store ? m_hooks.kept_store() : 0;
    if (!m_board.show_kept(store, page))
        page.status(text_nothing_kept);
}

void OutageWatch::start()
{
    std::lock_guard guard(m_lock);
    if (m_thread.joinable())
        return;
    m_stopping = false;
    m_thread = os::process::start_thread([this] { log::guarded("연결 끊김 감시 실패", [this] { run(); }); });
}

void OutageWatch::stop()
{
    {
        std::lock_guard guard(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void OutageWatch::run()
{
    std::unique_lock guard(m_lock);
    while (!m_stopping) {
        m_wake.wait_for(guard, std::chrono::milliseconds(outage_retry_ms), [this] { return m_stopping; });
        if (m_stopping)
            break;
        guard.unlock();
        bool signed_in = m_hooks.signed_in && m_hooks.signed_in();
        if (signed_in) {
            m_kept_view = false;
            if (m_board.offline() && m_hooks.reload)
                m_hooks.reload();
        } else if (m_kept_view && m_hooks.platform_reachable && m_hooks.platform_reachable()) {
            // Signing in is possible again: back to the login page.
            if (m_kept_view.exchange(false)) {
                log::bridge("ORDER", "플랫폼 연결이 돌아와 로그인 화면으로 돌아간다");
                if (m_hooks.navigate)
                    m_hooks.navigate("login.html");
            }
        }
        guard.lock();
    }
}

} // namespace tillbay::orders
