#pragma once

// A small TCP server for request–answer protocols on the shop LAN: one
// thread runs an event loop over every connection, so a slow or silent
// client costs a descriptor and a few bytes of memory, never a thread. The
// loop knows nothing of the protocol: it hands each connection's bytes to a
// handler, which says whether it needs more or what to answer. One answer
// per connection; the connection closes after it.
//
// Limits: a bounded number of connections, each with one overall deadline
// from accept to the last byte of its answer. When the bound is reached, the
// oldest connection that is still waiting for its request and older than
// evict_after_ms makes room; when none is, the newcomer gets the handler's
// busy answer.

#include "base/result.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::os::net {

struct ServerLimits {
    size_t max_connections = 256;
    int deadline_ms = 5000;     // from accept to the last byte of the answer
    int evict_after_ms = 250;   // at the bound, an older unanswered connection makes room
    size_t max_received = 32 * 1024; // bytes kept per connection before the handler is told
    size_t max_closing = 256;   // answered connections drained before the close
    int closing_ms = 1000;      // how long an answered connection is drained
};

struct Peer {
    std::array<uint8_t, 4> ipv4 {}; // the peer's IPv4 address (0.0.0.0 for other families)
    bool is_ipv4 = false;
    std::string text;                // "%u.%u.%u.%u"
};

// Why the handler is called.
enum class Input {
    More,       // more bytes arrived
    PeerClosed, // the peer closed its side (or the connection failed)
    TimedOut,   // the deadline passed before an answer
    TooLarge,   // max_received bytes arrived without an answer
};

class StreamHandler {
public:
    virtual ~StreamHandler() = default;

    // Called on the server thread with everything the connection has
    // received so far. nullopt (only for Input::More): wait for more. A text:
    // send it and close; an empty text closes without an answer.
    virtual std::optional<std::string> on_input(Peer const& peer, std::string_view received, Input input) = 0;

    // The answer for a connection that finds the server full.
    virtual std::string busy_answer() = 0;
};

struct ServerStats {
    uint64_t accepted = 0;
    uint64_t answered = 0;
    uint64_t refused = 0; // got the busy answer
    uint64_t evicted = 0;
    uint64_t timed_out = 0;
    size_t open = 0;      // connections now held (answered and draining ones not counted)
};

class StreamServer {
public:
    // Binds bind_address ("0.0.0.0" for every IPv4 address) on port (0: any
    // free port) and starts the server thread. The error keeps errno.
    static Result<std::unique_ptr<StreamServer>> start(std::string_view bind_address, int port, int backlog,
        ServerLimits limits, StreamHandler& handler);

    virtual ~StreamServer() = default;

    // Wakes the server thread, waits for it and closes every connection and
    // the listening socket. Idempotent; the destructor calls it.
    virtual void stop() = 0;
    virtual int port() const = 0;
    virtual ServerStats stats() const = 0;
};

} // namespace tillbay::os::net
