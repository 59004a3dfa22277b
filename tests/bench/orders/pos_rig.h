#pragma once

// What the order benchmarks share: the reference platform and the real
// program under an Xvfb of its own, signed in as staff on the order board and
// driven through the automation endpoint, and a bare TLS client on the relay
// as the peer the program's reactions are measured against.

#include "e2e_support.h"

#include <openssl/ssl.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace bench {

// Wall-clock milliseconds, the clock the page's Date.now() reads.
double wall_ms();

// Ends the children's process groups when the benchmark is interrupted; call
// once from main().
void end_children_on_signals();
// Another child whose process group a signal ends too (at most two).
void end_on_signals_too(int pid);

double percentile(std::vector<double> values, double fraction);

// The process ids below root in the process tree, root included.
std::vector<int> descendants_of(int root);

// A raw TLS client on the relay: header and registration, then it reads and
// notes the arrival time of each order's first event. The relay's own
// certificate is made by the platform at init; the peer does not check it,
// as it only stands in for the relay's round trip on loopback.
class RelayPeer {
public:
    ~RelayPeer() { stop(); }
    bool start(int port, std::string const& header, int storeidx);
    void stop();
    std::optional<double> seen(long long orderidx);
    // Called on the reader thread for each NEWORDER event; set before start.
    std::function<void(long long orderidx)> on_order;

private:
    void read_loop();
    void scan(std::string& pending, double now);

    SSL_CTX* m_context = nullptr;
    SSL* m_ssl = nullptr;
    int m_fd = -1;
    std::atomic<bool> m_stopping { false };
    std::thread m_reader;
    std::mutex m_lock;
    std::map<long long, double> m_seen;
};

// The platform, the signed-in program and (when asked) the relay peer, set up once.
struct Rig {
    std::string root, pos, home, log, pos_log, platform_log;
    int port = 0, control = 0, relay = 0;
    e2e::Child platform, program;
    RelayPeer peer;
    std::string failure;

    // name: the temporary folder's prefix. before_program runs once the
    // program folder is laid out and the platform is up, before the program
    // starts (extra settings, more peers); false ends the set-up. Fails with
    // failure set.
    bool set_up(std::string const& name, bool with_relay_peer, std::function<bool(Rig&)> const& before_program = {});
    ~Rig();

    std::string value_of(std::string const& expression) const;
    bool on_page(int page_class) const;
    int subscribers() const;
    // A paid table order; its number, or 0.
    long long create_order(int table) const;
    // Requests the platform received after seq, as its control interface lists them.
    std::string requests_after(long long seq) const;
    long long last_request_seq() const;
    // The program's process and its web processes.
    std::vector<int> program_pids() const;

    bool fail(std::string const& why);

private:
    void start_program();
};

} // namespace bench
