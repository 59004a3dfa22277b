#include "shell/app_queue.h"

namespace tillbay::shell {

AppQueue::AppQueue(std::function<void()> wake)
    : m_wake(std::move(wake))
{
}

void AppQueue::post(AppMessageId id, int64_t wparam)
{
    AppMessage message { id, wparam, false, {}, nullptr };
    post(std::move(message));
}

void AppQueue::post_text(AppMessageId id, int64_t wparam, std::string text)
{
    AppMessage message { id, wparam, true, std::move(text), nullptr };
    post(std::move(message));
}

void AppQueue::post_payload(AppMessageId id, std::unique_ptr<AppPayload> payload)
{
    AppMessage message { id, 0, false, {}, std::move(payload) };
    post(std::move(message));
}

void AppQueue::post(AppMessage message)
{
    {
        std::lock_guard guard(m_lock);
        m_messages.push_back(std::move(message));
    }
    // One wake-up covers every message posted before the UI thread gets to
    // the queue; the flag is cleared by the drain before it looks.
    if (!m_wake_pending.exchange(true) && m_wake)
        m_wake();
}

void AppQueue::drain_on_ui_thread(std::function<void(AppMessage&)> const& handler)
{
    m_wake_pending.store(false);
    for (;;) {
        AppMessage message { AppMessageId::Drain };
        {
            std::lock_guard guard(m_lock);
            if (m_messages.empty())
                return;
            message = std::move(m_messages.front());
            m_messages.pop_front();
        }
        handler(message);
    }
}

size_t AppQueue::size() const
{
    std::lock_guard guard(m_lock);
    return m_messages.size();
}

} // namespace tillbay::shell
