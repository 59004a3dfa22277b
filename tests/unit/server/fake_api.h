#pragma once

// A scripted API server on loopback, in plain TCP, for the unit tests of the
// calls and the login family: every connection gets one envelope read and
// one answer written by the test's handler, then the server hangs up. The
// integration tests run the same code against the real reference platform.

#include "foundation/json_text.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "os/fs.h"
#include "os/net.h"
#include "server/api.h"
#include "session/session.h"
#include "server/transport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tillbay::fake {

inline constexpr char const* app_key = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
inline constexpr char const* app_iv = "0f0e0d0c0b0a09080706050403020100";
inline constexpr char const* header = "TESTHEADER";

// What the server saw of one envelope.
struct Request {
    std::string envelope;
    int grade = 0;
    int useridx = 0;
    std::string data; // the data member, unescaped
};

class FakeApi {
public:
    // The answer to one request: the JSON text to send, or "" to hang up
    // without a word, or "silent" to say nothing until the client goes.
    using Handler = std::function<std::string(Request const&)>;

    explicit FakeApi(Handler handler)
        : m_handler(std::move(handler))
    {
        auto listener = os::net::listen_tcp("127.0.0.1", 0, 16);
        EXPECT_TRUE(listener.ok());
        m_listener = listener.release_value();
        m_port = os::net::local_port(m_listener.get());
        m_thread = std::thread([this] { run(); });
    }
    ~FakeApi()
    {
        m_stop = true;
        m_thread.join();
    }
    int port() const { return m_port; }
    std::vector<Request> requests()
    {
        std::lock_guard guard(m_lock);
        return m_requests;
    }
    int connections() const { return m_connections; }

private:
    void run()
    {
        while (!m_stop) {
            auto accepted = os::net::accept_connection(m_listener.get(), 50);
            if (!accepted.ok())
                continue;
            ++m_connections;
            serve(accepted.release_value());
        }
    }
    void serve(os::net::Fd fd)
    {
        std::string envelope;
        char buffer[8192];
        while (os::net::wait(fd.get(), os::net::Direction::Read, 2000) == os::net::Ready::Yes) {
            auto got = os::net::recv_some(fd.get(), buffer);
            if (!got.ok() || got.value() == 0)
                break;
            envelope.append(buffer, got.value());
            if (envelope.ends_with("}") || envelope.ends_with("}\n"))
                break;
        }
        Request request;
        request.envelope = envelope;
        request.grade = json::int_field(envelope, "grade", -1);
        request.useridx = json::int_field(envelope, "useridx", -1);
        (void)json::text_field(envelope, "data", request.data, 1 << 20);
        {
            std::lock_guard guard(m_lock);
            m_requests.push_back(request);
        }
        std::string answer = m_handler(request);
        if (answer == "silent") {
            while (!m_stop && os::net::wait(fd.get(), os::net::Direction::Read, 50) != os::net::Ready::Yes) { }
            return;
        }
        if (!answer.empty())
            (void)os::net::send_all(fd.get(), answer, 2000);
    }

    Handler m_handler;
    os::net::Fd m_listener;
    int m_port = 0;
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_connections { 0 };
    std::mutex m_lock;
    std::vector<Request> m_requests;
    std::thread m_thread;
};

// An owner answer: resultCode and the payload encrypted with key and IV.
inline std::string owner_answer(std::string_view code, std::string_view payload, std::string_view key = app_key,
    std::string_view iv = app_iv)
{
    std::string data;
    if (!payload.empty()) {
        auto encrypted = api::encrypt_command(payload, key, iv);
        EXPECT_TRUE(encrypted.ok());
        data = encrypted.value();
    }
    return "{\"resultCode\":\"" + std::string(code) + "\",\"resultType\":\"J\",\"resultData\":\"" + data + "\"}";
}

// The command an owner envelope carries, decrypted with key and IV.
inline std::string owner_command(Request const& request, std::string_view key = app_key, std::string_view iv = app_iv)
{
    auto plain = api::decrypt_payload(request.data, key, iv);
    return plain.ok() ? plain.value().str() : std::string("<undecryptable>");
}

// A settings file and per-user folder of the test's own, the transport in
// plain mode (the settings still say tls=1, which the sign-in commands
// require), and short waits.
class Environment {
public:
    explicit Environment(int port)
    {
        char pattern[] = "/tmp/tillbay-unit-server-XXXXXX";
        m_dir = ::mkdtemp(pattern);
        ::setenv("LOCALAPPDATA", (m_dir + "/appdata").c_str(), 1);
        paths::set_exe_dir_for_testing(m_dir + "/");
        std::string ini = "[SERVER]\r\nhost=127.0.0.1\r\nport=" + std::to_string(port)
            + "\r\ntls=1\r\nheader=" + header + "\r\n[APPKEY]\r\nkey=" + app_key + "\r\niv=" + app_iv + "\r\n";
        EXPECT_TRUE(os::write_file(m_dir + "/tillbay.ini", ini).ok());
        settings::read_server_settings();
        transport::configure(false, "", "127.0.0.1");
        api::set_waits_for_testing({ 1000, 600, 1000, 600 });
        session::reset();
    }
    ~Environment()
    {
        session::reset();
        api::set_waits_for_testing({});
        paths::set_exe_dir_for_testing("");
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string const& dir() const { return m_dir; }

private:
    std::string m_dir;
};

} // namespace tillbay::fake
