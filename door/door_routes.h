#pragma once

// What the tablet door answers: the routes for pairing, the chooser, the two
// polled states, the UI bundle's files with the tablet bridge script, and the
// door commands a tablet may send. Everything here runs on the door's server
// thread and is reached only through the hooks, so it runs in unit tests
// without a socket.

#include "door/http_request.h"
#include "os/stream_server.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::door {

// A door command's body is at most this long.
inline constexpr size_t max_act_bytes = 64;
// Tablets asking for the order list are served one reload per this period.
inline constexpr uint64_t refresh_interval_ms = 2000;
// The largest file served.
inline constexpr size_t max_static_file = 4 * 1024 * 1024;
// The tablet bridge script goes after a "<head>" found within this many bytes.
inline constexpr size_t head_search_bytes = 4096;

// The only commands a tablet may send.
inline constexpr std::string_view door_commands[] = { "cookstart", "servedone", "pickupready", "refreshorders",
    "printticket" };

struct DoorHooks {
    // The door token; empty when there is none (nobody is then served).
    std::function<std::string()> token;
    // The signed-in store's name, or nullopt before sign-in.
    std::function<std::optional<std::string>()> signed_in_shop;
    // The folders the UI bundle's files are served from, first match wins.
    std::function<std::vector<std::string>()> ui_folders;
    // Queues a trusted bridge command for the UI thread (any thread).
    std::function<void(std::string)> queue_command;
    // Milliseconds of a monotonic clock.
    std::function<uint64_t()> now_ms;
};

// 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16 and 127.0.0.0/8.
bool is_private(os::net::Peer const& peer);

class DoorRoutes {
public:
    explicit DoorRoutes(DoorHooks hooks);

    // The answer to what a connection has received; nullopt while the
    // request is incomplete and more may come; an empty text closes the
    // connection without an answer.
    std::optional<std::string> answer(os::net::Peer const& peer, std::string_view received, bool ended);

    // The answer to a connection that finds the door full.
    static std::string busy_answer();

private:
    std::string reader_failure(os::net::Peer const& peer, std::string_view received);
    std::string route(Request const& request, os::net::Peer const& peer);
    std::string polled(Request const& request, std::string const& body, std::string const& cookie);
    std::string static_file(std::string_view path, std::string const& cookie);
    std::string act(std::string_view body);

    DoorHooks m_hooks;
    std::atomic<uint64_t> m_last_refresh { 0 };
    std::atomic<bool> m_refreshed { false };
};

// The chooser a paired tablet opens: the customer screen or the kitchen display.
std::string_view chooser_page();
// The script inserted into every HTML file the door serves: it stands in for
// the native bridge and feeds the page by polling.
std::string_view tablet_script();
// The HTML with the tablet bridge script inserted after its "<head>" (looked
// for, in any case, within the first head_search_bytes), or at its start.
std::string with_tablet_script(std::string_view html);

} // namespace tillbay::door
