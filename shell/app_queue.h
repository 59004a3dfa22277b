#pragma once

// The main window's message queue. Worker threads (update, export worker,
// tray) and the bridge's wake-up hand their results to the UI thread by
// posting an app message; the UI thread takes them all in one go after a
// single wake-up, in the order they were posted. The message numbers are
// those of the main window's message table (WM_APP = 0x8000), so that logs
// and crash reports name them the same way. The push channel does not come
// through here: it hands its events to the bridge directly.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tillbay::shell {

enum class AppMessageId : uint32_t {
    Drain = 0x8000 + 4,        // any thread: drain the bridge queues
    NavRefresh = 0x8000 + 10,  // open the start page again
    UpdateReady = 0x8000 + 11, // update thread: a new version was downloaded
    UpdateFailed = 0x8000 + 12, // update thread: automatic update failed (text)
    Tray = 0x8000 + 20,        // tray icon: wparam = mouse or balloon event
    ExportDone = 0x8000 + 31,  // mall export worker: result record (payload)
};

// A heap block whose ownership passes to the receiver with the message.
class AppPayload {
public:
    virtual ~AppPayload() = default;
};

struct AppMessage {
    AppMessageId id;
    int64_t wparam = 0;
    bool has_text = false; // the sender passed a text (a null lParam has none)
    std::string text;
    std::unique_ptr<AppPayload> payload;
};

class AppQueue {
public:
    // wake is called from the posting thread when the queue turns non-empty
    // and no wake-up is pending yet; it must schedule drain_on_ui_thread() on
    // the UI thread and may be called from any thread.
    explicit AppQueue(std::function<void()> wake);

    AppQueue(AppQueue const&) = delete;
    AppQueue& operator=(AppQueue const&) = delete;

    // Any thread. Never fails towards the caller.
    void post(AppMessageId id, int64_t wparam = 0);
    void post_text(AppMessageId id, int64_t wparam, std::string text);
    void post_payload(AppMessageId id, std::unique_ptr<AppPayload> payload);
    void post(AppMessage message);

    // UI thread: hands every waiting message to handler, oldest first.
    // Messages posted while the handler runs are taken in the same pass.
    void drain_on_ui_thread(std::function<void(AppMessage&)> const& handler);

    size_t size() const;

private:
    mutable std::mutex m_lock;
    std::deque<AppMessage> m_messages;
    std::atomic<bool> m_wake_pending { false };
    std::function<void()> m_wake;
};

} // namespace tillbay::shell
