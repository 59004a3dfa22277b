#pragma once

// Starts tillbay-platform for a test and talks to it the way outside peers
// do: openssl s_client and openssl enc for TLS and the owner cipher, plain
// sockets and HTTP for the rest. Nothing here shares code with the server.

#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform_test {

using Json = nlohmann::json;

struct Listener {
    int port = 0;
    std::string mode;
};

class PlatformProcess {
public:
    // Starts "serve" with all ports 0 in a fresh data folder plus the given options.
    explicit PlatformProcess(std::vector<std::string> extra = {}, std::string data_dir = {});
    ~PlatformProcess();
    void kill_hard();
    void stop();

    bool ready() const { return m_ready; }
    Listener const& listener(std::string const& name) { return m_listeners[name]; }
    std::string const& fingerprint() const { return m_fingerprint; }
    std::string const& data_dir() const { return m_data_dir; }
    Json const& info() const { return m_info; }

    // Control interface.
    Json control(std::string const& method, std::string const& path, Json const& body = nullptr, int* status = nullptr);

    // One API envelope over TLS through openssl s_client (or a plain socket with --plain).
    std::string api_exchange(std::string const& envelope);
    Json store_call(std::string const& command, long long useridx = 1001);
    std::string sign_in_staff(); // the token
    // Owner call: encrypts with openssl enc, decrypts the answer's resultData into "plain".
    Json owner_call(std::string const& command, int grade, long long useridx, std::string const& key, std::string const& iv);

private:
    pid_t m_pid = -1;
    bool m_ready = false;
    bool m_plain = false;
    bool m_owns_dir = false; // a folder it made itself is removed at the end
    std::string m_data_dir;
    std::string m_fingerprint;
    std::map<std::string, Listener> m_listeners;
    Json m_info;
};

// Helpers.
std::string run_shell(std::string const& command, std::string const& input = {});
int connect_loopback(int port);
bool send_all(int fd, std::string const& data);
// Reads until the peer closes or `ms` pass without data; sets closed when the peer closed.
std::string read_until_quiet(int fd, int ms, bool* closed = nullptr);
// Reads until the needle has arrived, the peer closes or total_ms pass.
std::string read_until(int fd, std::string const& needle, int total_ms);
std::string http_request(int port, std::string const& raw, int ms = 5000);
std::string sha256_hex(std::string const& data);
std::string aes_encrypt_b64(std::string const& plain, std::string const& key, std::string const& iv);
std::string aes_decrypt_b64(std::string const& b64, std::string const& key, std::string const& iv);

} // namespace platform_test
