#include "main_view.h"

#include "foundation/json_text.h"
#include "foundation/log.h"

#include <glib.h>
#include <malloc.h>

namespace tillbay::app {

MainView::MainView(bridge::PagePolicy const& policy, bridge::WebViewHostConfig config)
    : m_host(policy, *this, std::move(config))
{
}

MainView::~MainView()
{
    if (m_garbage_timer)
        g_source_remove(m_garbage_timer);
}

void MainView::collect_after_quiet()
{
    if (m_garbage_timer)
        g_source_remove(m_garbage_timer);
    m_garbage_timer = g_timeout_add(
        garbage_quiet_ms,
        [](gpointer data) -> gboolean {
            auto* self = static_cast<MainView*>(data);
            self->m_garbage_timer = 0;
            log::guarded("화면 메모리 정리 실패", [self] {
                if (self->m_view)
                    self->m_view->collect_garbage();
                // The same quiet spell returns the free pages of this
                // process's own heap, which the large lists left behind.
                malloc_trim(0);
            });
            return G_SOURCE_REMOVE;
        },
        this);
}

bool MainView::create_view(std::string const& guard_script, bool developer_extras)
{
    m_view = gtk::WebView::create(*this, guard_script, 0xEAEEF4, developer_extras);
    return m_view != nullptr;
}

bool MainView::has_web_view() const { return m_view != nullptr; }

std::string MainView::current_address() const { return m_view ? m_view->current_address() : std::string {}; }

void MainView::execute_script(std::string const& script)
{
    if (!m_view)
        return;
    m_view->execute_script(script);
    if (script.size() >= large_script_bytes)
        collect_after_quiet();
}

bool MainView::call_function(std::string const& name, std::string const& args_json, std::string const& expected_address)
{
    if (!m_view || !m_view->call_function(name, args_json, expected_address))
        return false;
    if (args_json.size() >= large_script_bytes)
        collect_after_quiet();
    return true;
}

void MainView::navigate(std::string const& address)
{
    if (m_view)
        m_view->navigate(address);
}

bool MainView::allow_navigation(std::string const& address)
{
    // WebKit asks here for navigations of every frame without saying which.
    // A document the policy names may load; anything else may only be a
    // sub-frame the current top document is allowed to embed. Whether it
    // really is the main frame is settled when the main frame starts loading
    // (main_navigation_starting), when a frame's request leaves the web
    // process, or when the frame's document reports itself (frame_allowed),
    // so nothing slips through either way; a refused frame is logged once,
    // as "frame navigation".
    auto const& policy = m_host.policy();
    if (policy.classify(address, bridge::ViewKind::Main) != bridge::PageClass::None)
        return true;
    if (address == "about:blank" || policy.frame_allowed(current_address(), address, bridge::ViewKind::Main))
        return true;
    bridge::block_log("navigation");
    return false;
}

bool MainView::main_navigation_starting(std::string const& address)
{
    bridge::NavigationStart start;
    start.address = address;
    start.main_frame = true;
    start.navigation_id = ++m_navigation_counter;
    return m_host.on_navigation_starting(start) == bridge::Verdict::Allow;
}

void MainView::content_loading(std::string const& address)
{
    m_host.on_content_loading(m_navigation_counter, false);
    if (m_host.document().ready && m_on_committed)
        m_on_committed(address);
}

void MainView::navigation_completed(std::string const&, bool success)
{
    m_host.on_navigation_completed(m_navigation_counter, success);
}

bool MainView::frame_allowed(std::string const& top_address, std::string const& frame_address)
{
    return m_host.policy().frame_allowed(top_address, frame_address, bridge::ViewKind::Main);
}

void MainView::frame_refused(std::string const&) { bridge::block_log("frame navigation"); }

void MainView::page_message(gtk::PageMessage const& message)
{
    bridge::WebMessage web;
    web.is_string = message.kind != gtk::PageMessage::Kind::NotString;
    web.size_or_nul = message.kind == gtk::PageMessage::Kind::SizeOrNul;
    web.text = message.text;
    web.source = message.source;
    web.main_frame = message.main_frame;
    m_host.on_web_message(web);
}

void MainView::refused(std::string_view reason)
{
    if (reason == "download")
        (void)m_host.on_download({});
    else
        (void)m_host.on_new_window({});
}

namespace {

// A relay answer on its way to the UI thread.
struct RelayDelivery {
    std::weak_ptr<void> waiting;
    uint64_t id = 0;
    shell::relay::Answer answer;
};

} // namespace

void MainView::api_request(std::unique_ptr<gtk::SchemeRequest> request)
{
    if (!m_relay) {
        log::bridge("RELAY", "중계 없음 — " + request->method() + " " + request->uri());
        request->finish(502, "application/json; charset=utf-8", "{\"ok\":false,\"why\":\"relay\"}");
        return;
    }
    shell::relay::Incoming incoming;
    incoming.address = request->uri();
    incoming.method = request->method();
    incoming.content_type = request->header("Content-Type");
    incoming.body = request->body();
    incoming.body_cut = request->body_cut();

    uint64_t id = ++m_relay_waiting->next;
    m_relay_waiting->requests.emplace(id, std::move(request));
    std::weak_ptr<void> waiting = m_relay_waiting;
    // The answer comes on a relay worker (or at once, here): it is carried
    // to the UI thread, where the request is finished.
    m_relay->submit(std::move(incoming), [waiting, id](shell::relay::Answer answer) {
        auto* delivery = new RelayDelivery { waiting, id, std::move(answer) };
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                std::unique_ptr<RelayDelivery> delivery(static_cast<RelayDelivery*>(data));
                log::guarded("창구 응답 전달 실패", [&] {
                    auto owner = std::static_pointer_cast<RelayWaiting>(delivery->waiting.lock());
                    if (!owner)
                        return;
                    auto found = owner->requests.find(delivery->id);
                    if (found == owner->requests.end())
                        return;
                    std::unique_ptr<gtk::SchemeRequest> request = std::move(found->second);
                    owner->requests.erase(found);
                    auto& answer = delivery->answer;
                    request->finish(answer.status, answer.content_type, std::move(answer.body), answer.headers, answer.reason);
                });
                return G_SOURCE_REMOVE;
            },
            delivery, nullptr);
    });
}

void MainView::web_process_gone()
{
    if (m_on_gone)
        m_on_gone();
}

void MainView::evaluate(std::string const& script, std::function<void(bool ok, std::string result)> done)
{
    if (!m_view) {
        done(false, "no web view");
        return;
    }
    m_view->evaluate(script, std::move(done));
}

std::string MainView::document_json()
{
    auto const& document = m_host.document();
    std::string url = current_address();
    return "{\"generation\":" + std::to_string(document.generation) + ",\"url\":" + json::quote(url)
        + ",\"expected\":" + json::quote(document.expected_address) + ",\"ready\":" + (document.ready ? "true" : "false")
        + ",\"class\":" + std::to_string(static_cast<int>(m_host.current_class())) + "}";
}

void MainView::snapshot(std::function<void(std::string png)> done)
{
    if (!m_view) {
        done({});
        return;
    }
    m_view->snapshot(std::move(done));
}

void MainView::evaluate_customer(std::string const& script, std::function<void(bool ok, std::string result)> done)
{
    gtk::WebView* view = m_customer_view ? m_customer_view() : nullptr;
    if (!view) {
        done(false, "no customer view");
        return;
    }
    view->evaluate(script, std::move(done));
}

void MainView::snapshot_customer(std::function<void(std::string png)> done)
{
    gtk::WebView* view = m_customer_view ? m_customer_view() : nullptr;
    if (!view) {
        done({});
        return;
    }
    view->snapshot(std::move(done));
}

} // namespace tillbay::app
