#include "bridge/bridge.h"

#include "foundation/json_text.h"
#include "foundation/log.h"
#include "bridge/webview_host.h"
#include "session/session.h"

#include <charconv>
#include <cstdlib>

namespace tillbay::bridge {

namespace {

constexpr size_t max_status_text = 191;

// What the crash report tells about the bridge: single words, readable from
// a signal handler.
std::atomic<unsigned> g_queued { 0 };
std::atomic<int> g_draining { 0 };
unsigned crash_probe_queued() { return g_queued.load(); }
int crash_probe_draining() { return g_draining.load(); }

// Cuts a text to at most max bytes without splitting a character.
std::string cut_utf8(std::string text, size_t max)
{
    if (text.size() <= max)
        return text;
    size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text;
}

std::optional<uint64_t> parse_generation(std::string_view text)
{
    uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// Everything after the n-th separator, or nullopt when there are fewer.
std::optional<std::string_view> after_separator(std::string_view text, int n)
{
    size_t pos = 0;
    for (int i = 0; i < n; ++i) {
        size_t at = text.find(field_separator, pos);
        if (at == std::string_view::npos)
            return std::nullopt;
        pos = at + field_separator.size();
    }
    return text.substr(pos);
}

bool is_bridge_page(PageClass page_class)
{
    return page_class == PageClass::Login || page_class == PageClass::Orders || page_class == PageClass::UiBundle;
}

// Clears the drain flag however the drain ends, so that a handler that
// throws cannot silence the bridge for the rest of the run.
struct DrainFlag {
    bool& flag;
    explicit DrainFlag(bool& f)
        : flag(f)
    {
        flag = true;
        g_draining.store(1);
    }
    ~DrainFlag()
    {
        flag = false;
        g_draining.store(0);
    }
};

} // namespace

DocumentPage DocumentPage::current_while_signed_in(Bridge& bridge, uint64_t session_epoch)
{
    return DocumentPage(bridge, std::nullopt, session_epoch);
}

bool DocumentPage::still_signed_in() const { return !m_session_epoch || session::epoch() == *m_session_epoch; }

void DocumentPage::callback(std::string_view name, std::string_view args)
{
    m_bridge.on_ui([page = *this, name = std::string(name), args = std::string(args)] {
        if (page.still_signed_in())
            page.m_bridge.call(name, args, page.m_generation);
    });
}

void DocumentPage::status(std::string_view message)
{
    m_bridge.on_ui([page = *this, message = std::string(message)] {
        if (page.still_signed_in())
            page.m_bridge.status(message, page.m_generation);
    });
}

Bridge::Bridge(WebViewHost& host, std::function<void()> request_drain)
    : m_host(host)
    , m_request_drain(std::move(request_drain))
    , m_ui_thread(std::this_thread::get_id())
{
    log::set_crash_queue_probe(crash_probe_queued, crash_probe_draining);
}

Bridge::~Bridge() = default;

void Bridge::add_family(FamilySlot slot, bridge::Family* family)
{
    if (family)
        m_families[static_cast<size_t>(slot)].push_back(family);
}

void Bridge::set_family(FamilySlot slot, bridge::Family* family)
{
    m_families[static_cast<size_t>(slot)].clear();
    add_family(slot, family);
}

void Bridge::set_hooks(BridgeHooks hooks) { m_hooks = std::move(hooks); }

void Bridge::wake()
{
    if (m_request_drain)
        m_request_drain();
}

void Bridge::queue_internal(std::string text)
{
    {
        std::lock_guard lock(m_queue_lock);
        m_entries.push_back(Entry { std::move(text), {}, 0, true });
        g_queued.store(static_cast<unsigned>(m_entries.size()));
    }
    wake();
}

void Bridge::queue_push_event(OrderNotice notice)
{
    {
        std::lock_guard lock(m_queue_lock);
        m_push_events.push_back(std::move(notice));
    }
    wake();
}

void Bridge::post_ui(std::function<void()> task)
{
    {
        std::lock_guard lock(m_queue_lock);
        Entry entry;
        entry.own = true;
        entry.task = std::move(task);
        m_entries.push_back(std::move(entry));
        g_queued.store(static_cast<unsigned>(m_entries.size()));
    }
    wake();
}

void Bridge::on_ui(std::function<void()> task)
{
    if (on_ui_thread())
        task();
    else
        post_ui(std::move(task));
}

void Bridge::run_on_lane(std::function<void()> job)
{
    if (m_lane)
        m_lane->post(std::move(job));
    else
        job();
}

void Bridge::run_on_lane_after(std::chrono::milliseconds delay, std::function<void()> job)
{
    if (m_lane)
        m_lane->post_after(delay, std::move(job));
    else
        job();
}

size_t Bridge::queued_commands() const
{
    std::lock_guard lock(m_queue_lock);
    return m_entries.size();
}

size_t Bridge::queued_page_messages() const
{
    std::lock_guard lock(m_queue_lock);
    return m_page_entries;
}

bool Bridge::page_still_current(std::string_view source, uint64_t generation, std::string& reason) const
{
    DocumentRecord const& document = m_host.document();
    std::string current = m_host.current_address();
    reason = "stale document";
    return generation == document.generation && source == current;
}

void Bridge::receive_page_message(std::string message, std::string source, uint64_t generation_at_receipt)
{
    std::string reason;
    if (!page_still_current(source, generation_at_receipt, reason)) {
        block_log(reason);
        return;
    }
    Refusal refusal = admit(message, m_host.policy().classify(source, ViewKind::Main), m_host.policy());
    if (refusal != Refusal::None) {
        block_log(refusal_reason(refusal));
        return;
    }
    {
        std::lock_guard lock(m_queue_lock);
        // A page that floods the bridge loses its newest messages quietly;
        // the program's own commands are never limited.
        if (m_page_entries < max_queued_page_messages) {
            m_entries.push_back(Entry { std::move(message), std::move(source), generation_at_receipt, false });
            ++m_page_entries;
            g_queued.store(static_cast<unsigned>(m_entries.size()));
        }
    }
    wake();
}

void Bridge::drain()
{
    if (m_draining)
        return;
    DrainFlag flag(m_draining);
    while (true) {
        std::vector<OrderNotice> notices;
        std::optional<Entry> entry;
        {
            std::lock_guard lock(m_queue_lock);
            if (!m_push_events.empty()) {
                notices.swap(m_push_events);
            } else if (!m_entries.empty()) {
                entry = std::move(m_entries.front());
                m_entries.pop_front();
                if (!entry->own)
                    --m_page_entries;
                g_queued.store(static_cast<unsigned>(m_entries.size()));
            } else {
                return;
            }
        }
        // Each entry runs guarded: one failing handler is logged and the
        // drain goes on with the next.
        log::guarded("명령 처리 실패", [&] { run_entry(std::move(notices), entry); });
    }
}

void Bridge::run_entry(std::vector<OrderNotice> notices, std::optional<Entry>& entry)
{
    if (!notices.empty()) {
        if (m_push_handler)
            m_push_handler(std::move(notices));
        return;
    }
    if (entry->task) {
        entry->task();
        return;
    }
    if (entry->own) {
        if (!entry->message.empty() && entry->message[0] == internal_mark)
            handle_internal(entry->message);
        else
            dispatch(entry->message, m_host.document().generation, true);
        return;
    }
    // The page may have changed while the message waited.
    DocumentRecord const& document = m_host.document();
    if (!document.ready || m_host.current_address() != document.expected_address) {
        block_log("");
        return;
    }
    std::string reason;
    if (!page_still_current(entry->source, entry->generation, reason)) {
        block_log(reason);
        return;
    }
    Refusal refusal = admit(entry->message, m_host.policy().classify(entry->source, ViewKind::Main), m_host.policy());
    if (refusal != Refusal::None) {
        block_log(refusal_reason(refusal));
        return;
    }
    dispatch(entry->message, entry->generation, false);
}

void Bridge::dispatch(std::string_view text, uint64_t generation, bool own)
{
    log::bridge("<<UI", text);
    if (text.empty())
        return;
    bridge::Command command;
    command.fields = split_fields(text);
    command.generation = generation;
    command.internal = own;
    if (command.name() == "back" && m_host.current_class() == PageClass::AddressPage) {
        if (m_hooks.route_page)
            m_hooks.route_page("info.html");
        return;
    }
    DocumentPage page(*this, generation);
    for (auto const& slot : m_families) {
        for (bridge::Family* family : slot) {
            if (family->runs(command.name()) == bridge::Runs::OnLane) {
                run_on_lane([family, command = std::move(command), page]() mutable { family->handle(command, page); });
                return;
            }
            if (family->handle(command, page) == bridge::Handled::Yes)
                return;
        }
    }
    std::string message = unknown_command_text;
    message.replace(message.find("%s"), 2, command.name());
    status(cut_utf8(std::move(message), max_status_text), generation);
}

void Bridge::page_callback(std::string_view script, std::optional<uint64_t> generation)
{
    if (!m_host.port().has_web_view())
        return;
    DocumentRecord const& document = m_host.document();
    std::string current = m_host.current_address();
    if (!document.ready || (generation && *generation != document.generation)
        || !is_bridge_page(m_host.policy().classify(current, ViewKind::Main)))
        return;
    // The wrapper makes the script do nothing in a frame, and in a document
    // whose address changed between this check and the moment it runs.
    // A server text with a broken byte (a menu name, a memo) must not cost
    // the page the whole callback: the web view refuses a script that is not
    // valid UTF-8 as a whole, so each broken byte becomes U+FFFD here.
    std::string safe = with_valid_utf8(script);
    std::string wrapped = "(function(){if(window!==window.top||location.href!==" + json::quote(current) + ")return;";
    wrapped += safe;
    wrapped += "\n})();";
    log::bridge("JS>>", safe);
    m_host.port().execute_script(wrapped);
}

void Bridge::call(std::string_view name, std::string_view args, std::optional<uint64_t> generation)
{
    // A large text argument goes as data (see WebViewPort::call_function).
    if (args.size() >= large_argument_bytes && args.size() >= 2 && args.front() == '"' && args.back() == '"'
        && m_host.port().has_web_view()) {
        DocumentRecord const& document = m_host.document();
        std::string current = m_host.current_address();
        if (!document.ready || (generation && *generation != document.generation)
            || !is_bridge_page(m_host.policy().classify(current, ViewKind::Main)))
            return;
        std::string name_text(name);
        std::string array = "[";
        array.append(args);
        array += ']';
        if (m_host.port().call_function(name_text, array, current)) {
            log::bridge("JS>>", "window." + name_text + "&&" + name_text + "(" + std::string(args) + ")");
            return;
        }
    }
    std::string script = "window.";
    script += name;
    script += "&&";
    script += name;
    script += "(";
    script += args;
    script += ")";
    page_callback(script, generation);
}

void Bridge::status(std::string_view text, std::optional<uint64_t> generation)
{
    std::string quoted = json::quote(text);
    DocumentRecord const& document = m_host.document();
    if (m_host.port().has_web_view() && document.ready && m_host.current_class() == PageClass::AddressPage) {
        // The address page has no page bridge and no page script, so the
        // message is written into the page directly.
        if (generation && *generation != document.generation)
            return;
        m_host.port().execute_script(with_valid_utf8("(function(){if(location.href!=="
            + json::quote(m_host.current_address())
            + ")return;var n=document.getElementById('pcAddressStatus');if(!n){n=document.createElement('div');"
              "n.id='pcAddressStatus';document.body.appendChild(n);}n.textContent="
            + quoted + ";})();"));
        return;
    }
    page_callback("(function(m){  if(window.setStatus) return setStatus(m);  if(window.TW && TW.toast) return "
                  "TW.toast(m);  window.chrome.webview.postMessage('needbox</>'+m);})("
            + quoted + ")",
        generation);
}

DocumentPage Bridge::current_page() { return DocumentPage(*this, m_host.document().generation); }

void Bridge::handle_internal(std::string_view text)
{
    std::string_view body = text.substr(1);
    std::vector<std::string> fields = split_fields(body);
    std::string_view name = fields[0];
    auto field = [&](size_t i) -> std::string { return i < fields.size() ? fields[i] : std::string {}; };
    DocumentRecord const& document = m_host.document();

    if (name == "printlinks") {
        auto generation = parse_generation(field(1));
        auto script = after_separator(body, 2);
        if (script && generation && *generation == document.generation && document.ready
            && m_host.current_class() == PageClass::Orders)
            page_callback(*script, *generation);
    } else if (name == "printresult") {
        if (fields.size() < 3)
            return;
        // The flag is the program's own "1" or "0"; anything else reads as a
        // failure rather than going into the script as it is.
        bool ok = fields[1] == "1";
        status(fields[2]);
        page_callback(std::string("window.setPrintLinkResult&&setPrintLinkResult(") + (ok ? "1" : "0") + ","
            + json::quote(fields[2]) + ")");
        if (fields.size() >= 4) {
            long long code = std::atoll(fields[3].c_str());
            if (code > 0 && m_hooks.kitchen_print_result)
                m_hooks.kitchen_print_result(ok, code);
        }
    } else if (name == "navdone") {
        auto generation = parse_generation(field(1));
        if (generation && *generation == document.generation && document.ready)
            page_setup(*generation);
    } else if (name == "svcpush") {
        page_callback(service_block_script(m_service.block()));
    } else if (name == "srvdown") {
        page_callback(m_service.server_down_script());
    } else if (name == "toast") {
        status(after_separator(body, 1).value_or(std::string_view {}));
    } else if (name == "navrefresh") {
        bool signed_in = m_hooks.signed_in && m_hooks.signed_in().has_value();
        m_host.open_local_page(signed_in ? "orders.html" : "login.html");
    } else if (name == "updstate") {
        std::string state = field(1);
        std::string state_text = field(2);
        log::bridge("UPD", "상태 " + (state.empty() ? std::string("정상") : state) + " — " + state_text);
        if (m_hooks.update_state) {
            DocumentPage page = current_page();
            m_hooks.update_state(state, state_text, page);
        }
    }
    // Any other internal command is ignored.
}

void Bridge::page_setup(uint64_t generation)
{
    if (m_host.current_class() == PageClass::AddressPage)
        return;
    DocumentPage page(*this, generation);
    if (m_hooks.send_version_line)
        m_hooks.send_version_line(page);
    if (m_hooks.settings_problem_host) {
        if (auto host = m_hooks.settings_problem_host())
            status("설정 파일을 읽지 못했습니다 (지금 서버 " + *host + ") — tillbay.ini 를 확인해 주십시오", generation);
    }
    if (m_hooks.take_first_run_request) {
        int request = m_hooks.take_first_run_request();
        if (request == 1)
            page_callback("window.openPrinterSetup&&openPrinterSetup()", generation);
        else if (request != 0)
            page_callback("window.openPosSettings&&openPosSettings()", generation);
    }
    std::optional<SignedInStore> store = m_hooks.signed_in ? m_hooks.signed_in() : std::nullopt;
    if (!store) {
        if (m_hooks.show_kept_board)
            m_hooks.show_kept_board(page);
        return;
    }
    call("setStoreName", json::quote(store->shop_name), generation);
    std::string web_host = m_hooks.web_host_text ? m_hooks.web_host_text() : std::string {};
    call("setPayBase", json::quote(web_host) + "," + std::to_string(store->store_number), generation);
    if (m_hooks.send_order_request_context)
        m_hooks.send_order_request_context(page);
    if (m_hooks.start_or_report_push_channel)
        m_hooks.start_or_report_push_channel(page);
    if (m_hooks.refresh_order_board)
        m_hooks.refresh_order_board(page);
    dispatch("getlayout", generation, true);
}

} // namespace tillbay::bridge
