#pragma once

// The tablet door: a small HTTP/1.1 server on the shop LAN that serves the
// customer page and the kitchen display to paired tablets. One server thread
// runs an event loop over every connection (os/stream_server.h); the routes
// are door_routes.h. Opening and closing may be asked from any thread; the
// door token lives in the settings file and is cached here.

#include "base/result.h"
#include "door/door_routes.h"
#include "door/door_token.h"
#include "os/stream_server.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace tillbay::door {

inline constexpr int default_port = 8787;
inline constexpr int listen_backlog = 64;

// TABLET/on: open the door when the program starts.
bool configured_on();
// TABLET/port; any value outside 1024..65535 reads as 8787.
int configured_port();
bool valid_port(long long port);

class Door final : public os::net::StreamHandler {
public:
    struct Config {
        std::string bind_address = "0.0.0.0";
        os::net::ServerLimits limits;
    };

    // hooks.token is the door's own; whatever the caller put there is replaced.
    Door(DoorHooks hooks, RandomSource random, Config config);
    ~Door() override;

    Door(Door const&) = delete;
    Door& operator=(Door const&) = delete;

    // Opens the door on the port; success when it is running (already or
    // now). The error's message is the user's: the port in use, or no token.
    Status open(int port);
    // Stops the server thread and closes every connection. Does nothing when closed.
    void close();
    bool running() const { return m_running.load(); }
    // The port bound while running, else 0.
    int bound_port() const { return m_port.load(); }

    // The door token: the cached one, else the stored one, else a new one
    // written to the settings file. Empty when none could be made.
    std::string token();
    // A new token, cached and stored; tablets paired with the old one lose
    // access at their next request. Fails (keeping the old token) when the
    // random source fails.
    Result<std::string> renew_token();

    os::net::ServerStats stats() const;

    // os::net::StreamHandler
    std::optional<std::string> on_input(os::net::Peer const& peer, std::string_view received, os::net::Input input) override;
    std::string busy_answer() override;

private:
    std::string cached_token() const;

    RandomSource m_random;
    Config m_config;
    std::unique_ptr<DoorRoutes> m_routes;
    mutable std::mutex m_lock;       // open and close
    mutable std::mutex m_token_lock; // the cached token
    std::string m_token;
    std::unique_ptr<os::net::StreamServer> m_server;
    std::atomic<bool> m_running { false };
    std::atomic<int> m_port { 0 };
};

} // namespace tillbay::door
