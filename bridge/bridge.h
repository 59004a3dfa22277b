#pragma once

// The native side of the page bridge. Page messages are checked where they
// came from and what they ask, queued, and on the UI thread handed to the
// command families, which answer with page callbacks. The program's own
// commands use the same queue, so that every reaction to a worker thread's
// result also runs on the UI thread, in order, through one dispatcher:
//
//   - trusted commands: the program's own, dispatched like page commands but
//     without the admission check ("setfull" from F11);
//   - internal commands: beginning with the byte 0x01, handled here
//     ("\x01navdone</>7", "\x01printresult</>1</>...");
//   - UI tasks: work another thread hands to the UI thread (a page callback
//     from the command lane, a navigation after a sign-in);
//   - order notices from the push channel, served before everything else.
//
// A command whose family says it blocks runs on the command lane; its page
// answers come back as UI tasks, still checked against the document they
// were meant for. queue_internal(), post_ui(), queue_push_event() and the
// DocumentPage answers may be used from any thread; everything else belongs
// to the UI thread.

#include "bridge/admission.h"
#include "bridge/family.h"
#include "bridge/lane.h"
#include "bridge/service_state.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tillbay::bridge {

class WebViewHost;

// The byte that marks an internal command.
inline constexpr char internal_mark = '\x01';

// The command families, in the order a command is offered to them.
enum class FamilySlot : size_t {
    Login,
    Order,
    Pc,
    Nav,
    Menu,
    Product,
    Store,
    Sales,
    History,
};
inline constexpr size_t family_count = 9;

// A page callback whose one text argument is at least this long goes to the
// page as data instead of script text. Past a few kilobytes the page has the
// data sooner: a 23 KB order list arrived about 1 ms earlier than the same
// text as a script.
inline constexpr size_t large_argument_bytes = 1024;

// The status message for a command no family recognises.
inline constexpr char const* unknown_command_text = "아직 붙이지 않은 기능입니다 (%s)";

struct SignedInStore {
    std::string shop_name;
    int store_number = 0;
};

// An order event of the push channel, on its way to the order board.
struct OrderNotice {
    int32_t storeidx = 0;
    int32_t orderidx = 0;
    // "NEWORDER", "PAYING", ...; empty when the channel only asks for a
    // reload (it has just connected, and something may have been missed).
    std::string event;

    bool operator==(OrderNotice const&) const = default;
};

// A page bound to one document: callbacks and status messages reach it only
// while its generation is the current one. Answers may be given from any
// thread: off the UI thread they travel to it as UI tasks, in order.
class DocumentPage final : public bridge::Page {
public:
    DocumentPage(class Bridge& bridge, uint64_t generation)
        : m_bridge(bridge)
        , m_generation(generation)
    {
    }
    // Answers reach whatever document is current when they arrive, but only
    // while the sign-in of the epoch is still the current one: the board
    // reloads that no page asked for use it, so that a list fetched for one
    // store never reaches a page opened after a sign-out.
    static DocumentPage current_while_signed_in(class Bridge& bridge, uint64_t session_epoch);

    void callback(std::string_view name, std::string_view args) override;
    void status(std::string_view message) override;
    std::optional<uint64_t> generation() const { return m_generation; }

private:
    DocumentPage(class Bridge& bridge, std::optional<uint64_t> generation, std::optional<uint64_t> session_epoch)
        : m_bridge(bridge)
        , m_generation(generation)
        , m_session_epoch(session_epoch)
    {
    }
    bool still_signed_in() const;

    class Bridge& m_bridge;
    std::optional<uint64_t> m_generation;
    std::optional<uint64_t> m_session_epoch;
};

// What the bridge needs from the other subsystems for its internal commands
// and the page set-up after each navigation. Each hook is optional; an empty
// one skips its step.
struct BridgeHooks {
    // Page set-up, in the order it runs.
    std::function<void(bridge::Page&)> send_version_line;
    // The configured server host when the settings file had no SERVER port or host.
    std::function<std::optional<std::string>()> settings_problem_host;
    // The first-run page the `nav` family asked for, cleared by taking it: 0
    // none, 1 the printer set-up, anything else the POS settings.
    std::function<int()> take_first_run_request;
    std::function<std::optional<SignedInStore>()> signed_in;
    // The configured web host text (settings `webhost`), for setPayBase.
    std::function<std::string()> web_host_text;
    // Sends setOrderRequestContext; the document's page may be kept for an answer given later.
    std::function<void(DocumentPage const&)> send_order_request_context;
    // Starts the order push channel when it is not running, or reports its state.
    std::function<void(bridge::Page&)> start_or_report_push_channel;
    // Reloads the order board and the table count (on the command lane).
    std::function<void(DocumentPage const&)> refresh_order_board;
    // A page set up with nobody signed in: the board kept from before an
    // outage, when the staff asked for it on the login page.
    std::function<void(DocumentPage const&)> show_kept_board;

    // "\x01printresult" with an order code above 0.
    std::function<void(bool ok, long long order_code)> kitchen_print_result;
    // "\x01updstate": keep the state and send it to the page.
    std::function<void(std::string_view state, std::string_view text, bridge::Page&)> update_state;
    // The page routing of the `nav` family, for `back` from the address page.
    std::function<void(std::string_view page_name)> route_page;
};

class Bridge {
public:
    // request_drain schedules drain() on the UI thread; it may be called from
    // any thread and may coalesce several requests into one drain.
    Bridge(WebViewHost& host, std::function<void()> request_drain);
    ~Bridge();

    Bridge(Bridge const&) = delete;
    Bridge& operator=(Bridge const&) = delete;

    // Adds a family to a slot; the families of one slot are offered a
    // command in the order they were added.
    void add_family(FamilySlot slot, bridge::Family* family);
    // Makes the family the slot's only one (nullptr empties the slot).
    void set_family(FamilySlot slot, bridge::Family* family);
    void set_hooks(BridgeHooks hooks);
    // The lane that runs the blocking commands. Without one (unit tests)
    // they run where they are dispatched.
    void set_lane(Lane* lane) { m_lane = lane; }
    Lane* lane() const { return m_lane; }
    // Runs a job on the lane, or at once without one.
    void run_on_lane(std::function<void()> job);
    // The same after a delay (without a lane: at once).
    void run_on_lane_after(std::chrono::milliseconds delay, std::function<void()> job);
    // The order board's reaction to the order notices taken in one drain.
    void set_push_handler(std::function<void(std::vector<OrderNotice>)> handler) { m_push_handler = std::move(handler); }

    // Any thread. Queues the program's own command text: an internal command
    // when it begins with 0x01, a trusted one otherwise. Never refused.
    void queue_internal(std::string text);
    // Any thread. An order notice of the push channel: the drain hands every
    // notice waiting at that moment to the push handler at once, before any
    // queued command.
    void queue_push_event(OrderNotice notice);
    // Any thread. Runs the task on the UI thread, in the drain, in order with
    // the queued commands.
    void post_ui(std::function<void()> task);
    // Runs the task now when called on the UI thread, else as post_ui().
    void on_ui(std::function<void()> task);
    bool on_ui_thread() const { return std::this_thread::get_id() == m_ui_thread; }

    // UI thread: a web message already reduced by WebViewHost (a string from
    // the main frame). Checked, then queued or block-logged.
    void receive_page_message(std::string message, std::string source, uint64_t generation_at_receipt);

    // UI thread: runs every queued push event and command. Re-entry (a
    // handler that runs a nested main loop) returns at once; the running
    // drain picks up whatever arrives meanwhile.
    void drain();

    // UI thread: splits the text and offers it to the families (a trusted
    // command when called directly).
    void dispatch(std::string_view text, uint64_t generation, bool own);

    // UI thread: runs the script in the current page if it still is the page
    // of the given generation (nullopt: whatever page is current), the page
    // is ready and it is a bridge page (classes 1 to 3). The script runs
    // wrapped, so that it does nothing in a frame or at a changed address.
    void page_callback(std::string_view script, std::optional<uint64_t> generation = std::nullopt);
    // "window.<name>&&<name>(<args>)" as a page callback.
    void call(std::string_view name, std::string_view args, std::optional<uint64_t> generation = std::nullopt);
    // The short transient message in the page.
    void status(std::string_view text, std::optional<uint64_t> generation = std::nullopt);

    // The page of the current document.
    DocumentPage current_page();

    ServiceState& service_state() { return m_service; }
    WebViewHost& host() { return m_host; }

    // Queue lengths, for tests and the automation endpoint.
    size_t queued_commands() const;
    size_t queued_page_messages() const;

private:
    struct Entry {
        std::string message;
        std::string source;
        uint64_t generation = 0;
        bool own = false;
        std::function<void()> task; // a UI task instead of a command
    };

    bool page_still_current(std::string_view source, uint64_t generation, std::string& reason) const;
    void run_entry(std::vector<OrderNotice> notices, std::optional<Entry>& entry);
    void handle_internal(std::string_view text);
    void page_setup(uint64_t generation);
    void wake();

    WebViewHost& m_host;
    std::function<void()> m_request_drain;
    std::thread::id m_ui_thread;
    Lane* m_lane = nullptr;
    std::function<void(std::vector<OrderNotice>)> m_push_handler;
    std::array<std::vector<bridge::Family*>, family_count> m_families {};
    BridgeHooks m_hooks;
    ServiceState m_service;

    mutable std::mutex m_queue_lock;
    std::vector<OrderNotice> m_push_events;
    std::deque<Entry> m_entries;
    size_t m_page_entries = 0;
    bool m_draining = false;
};

} // namespace tillbay::bridge
