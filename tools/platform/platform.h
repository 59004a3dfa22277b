#pragma once

// The shared state of one running platform: the database, the data folder's
// secrets, the service block, injected faults, the log of every request, the
// registered push-relay connections and what the web host publishes.

#include "tools/platform/db.h"
#include "tools/platform/signing.h"
#include "tools/platform/tls.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tillbay::platform {

// Generated once per data folder and kept in DATA/secrets.json; `init` writes
// the same values into the POS's settings file.
struct Secrets {
    std::string app_key;       // 64 hexadecimal digits
    std::string app_iv;        // 32 hexadecimal digits
    std::string server_header; // 27 characters, SERVER/header
    std::string relay_header;  // 36 characters, RELAY/header
};
bool load_or_create_secrets(std::string const& data_dir, Secrets& out, std::string& error);

struct ServiceBlock {
    int merchant = 0, food = 0, shop = 0, pos = 0;
    std::string message, notice;
};

// BadByte: the answer goes out with every occurrence of the fault's message
// text replaced by the byte 0xFF, which is never valid UTF-8 (a server that
// sends a menu name or a memo in a legacy code page).
enum class FaultKind { Late, Silent, Close, Garbage, Refuse, BadByte };

struct Fault {
    std::string listener; // "api", "relay" or "web"
    int cmd = -1;         // -1 matches every request
    FaultKind kind = FaultKind::Refuse;
    std::string code = "9";
    std::string message;
    int count = 1;
    int delay_ms = 12000; // for "late": longer than the POS's 8-second wait
};

struct RequestRecord {
    long long seq = 0;
    std::string listener;
    int grade = 0;
    long long useridx = 0;
    std::string header;
    std::string command;
};

struct OrderEvent {
    long long storeidx = 0;
    long long orderidx = 0;
    std::string event;
};

// One registered push-relay connection; its own thread does all the I/O, the
// others only queue texts for it.
struct RelaySubscriber {
    long long storeidx = 0;
    std::mutex mutex;
    std::deque<std::string> outbox;
    int wake_fd[2] = { -1, -1 };
    std::atomic<bool> gone { false };
};

struct PublishedApp {
    std::string version;
    std::string file_path; // on disk
    std::string url_path;  // under /v2/pos/
    std::string sha256;
};

struct ServeOptions {
    std::string data_dir;
    std::string host = "127.0.0.1";
    int api_port = 9443;
    int relay_port = 2627;
    int web_port = 8080;
    int control_port = 8081;
    bool plain = false;
    bool web_tls = false;
    int ping_interval_ms = 30000;
    int qr_ttl_s = 600;
    std::string ui_dir;
};

class Platform {
public:
    explicit Platform(ServeOptions options);

    ServeOptions const& options() const { return m_options; }
    Db& db() { return m_db; }
    Secrets const& secrets() const { return m_secrets; }
    ServerCertificate const& certificate() const { return m_cert; }
    ManifestSigner& signer() { return m_signer; }

    bool open(std::string& error);

    // Request log, read back by the control interface.
    long long log_request(std::string listener, int grade, long long useridx, std::string header, std::string command);
    std::vector<RequestRecord> requests_after(long long seq);

    // Faults: the first matching one is used up and returned.
    void add_fault(Fault fault);
    std::optional<Fault> take_fault(std::string const& listener, int cmd);

    ServiceBlock service();
    void set_service(ServiceBlock block);

    // Whether one payment token may cover several orders. A platform without
    // QR groups (an older server) answers a token for the first order only,
    // with groupcount 0.
    bool qr_groups() const { return m_qr_groups.load(); }
    void set_qr_groups(bool on) { m_qr_groups.store(on); }

    // Push relay.
    void subscribe(std::shared_ptr<RelaySubscriber> const& sub);
    void unsubscribe(RelaySubscriber* sub);
    void raise(OrderEvent const& event);
    int subscriber_count(long long storeidx);

    // Stops or starts a listener again on its port ("api" or "relay"), for
    // outages made through the control interface; an error text, or empty.
    void set_listener_switch(std::function<std::string(std::string const& name, bool up)> switch_listener)
    {
        m_listener_switch = std::move(switch_listener);
    }
    std::string switch_listener(std::string const& name, bool up)
    {
        return m_listener_switch ? m_listener_switch(name, up) : "no listeners to switch";
    }

    // Web host publishing.
    std::map<std::string, std::string> published_files();
    std::string published_ui_version();
    void publish_ui(std::string version, std::map<std::string, std::string> files);
    std::optional<PublishedApp> published_app();
    void publish_app(PublishedApp app);
    void clear_published();

private:
    ServeOptions m_options;
    Db m_db;
    Secrets m_secrets;
    ServerCertificate m_cert;
    ManifestSigner m_signer;

    std::mutex m_mutex;
    std::deque<RequestRecord> m_requests;
    long long m_next_seq = 1;
    std::vector<Fault> m_faults;
    ServiceBlock m_service;
    std::vector<std::shared_ptr<RelaySubscriber>> m_subscribers;
    std::string m_ui_version;
    std::map<std::string, std::string> m_published_files;
    std::optional<PublishedApp> m_app;
    std::atomic<bool> m_qr_groups { true };
    std::function<std::string(std::string const&, bool)> m_listener_switch;

    // The request log keeps this many entries; older ones fall off.
    static constexpr size_t k_request_log_limit = 20000;
};

} // namespace tillbay::platform
