// tillbay-platform: the reference platform servers for the demo and the
// end-to-end tests.
//
//   tillbay-platform serve --data DIR [--host H] [--api-port N] [--relay-port N]
//                          [--web-port N] [--control-port N] [--plain] [--web-tls]
//                          [--ping-interval MS] [--qr-ttl SECONDS] [--ui DIR]
//   tillbay-platform init POSDIR [--data DIR] [--host H] [--api-port N]
//                          [--relay-port N] [--web-port N] [--plain] [--web-tls]

#include "os/fs.h"
#include "tools/platform/api.h"
#include "tools/platform/control.h"
#include "tools/platform/relay.h"
#include "tools/platform/tls.h"
#include "tools/platform/web.h"

#include <openssl/ssl.h>

#include <csignal>
#include <malloc.h>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace tillbay::platform;

namespace {

constexpr char k_staff_id[] = "tillbay01";
constexpr char k_staff_pw[] = "pos1234!";
constexpr char k_owner_id[] = "owner01";
constexpr char k_owner_pw[] = "owner1234!";

void usage()
{
    std::fprintf(stderr,
        "usage:\n"
        "  tillbay-platform serve --data DIR [--host H] [--api-port N] [--relay-port N] [--web-port N]\n"
        "                         [--control-port N] [--plain] [--web-tls] [--ping-interval MS]\n"
        "                         [--qr-ttl SECONDS] [--ui DIR]\n"
        "  tillbay-platform init POSDIR [--data DIR] [--host H] [--api-port N] [--relay-port N]\n"
        "                         [--web-port N] [--plain] [--web-tls]\n"
        "Port 0 picks a free port. --ui names the UI bundle to serve; without it, the bundle\n"
        "installed next to this program (dist/), else the build tree's ui-bundle.\n");
}

bool parse_port(char const* text, int& out)
{
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!end || *end || v < 0 || v > 65535)
        return false;
    out = static_cast<int>(v);
    return true;
}

// Reads the options shared by both commands; false on a bad or unknown one.
bool parse_options(std::vector<std::string> const& args, size_t start, ServeOptions& o)
{
    for (size_t i = start; i < args.size(); ++i) {
        std::string const& a = args[i];
        auto value = [&](char const*& out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i].c_str();
            return true;
        };
        char const* v = nullptr;
        if (a == "--plain")
            o.plain = true;
        else if (a == "--web-tls")
            o.web_tls = true;
        else if (a == "--data" && value(v))
            o.data_dir = v;
        else if (a == "--host" && value(v))
            o.host = v;
        else if (a == "--ui" && value(v))
            o.ui_dir = v;
        else if (a == "--api-port" && value(v) && parse_port(v, o.api_port)) { }
        else if (a == "--relay-port" && value(v) && parse_port(v, o.relay_port)) { }
        else if (a == "--web-port" && value(v) && parse_port(v, o.web_port)) { }
        else if (a == "--control-port" && value(v) && parse_port(v, o.control_port)) { }
        else if (a == "--ping-interval" && value(v)) {
            o.ping_interval_ms = std::atoi(v);
            if (o.ping_interval_ms < 50 || o.ping_interval_ms > 3600000)
                return false;
        } else if (a == "--qr-ttl" && value(v)) {
            o.qr_ttl_s = std::atoi(v);
            if (o.qr_ttl_s < 1 || o.qr_ttl_s > 86400)
                return false;
        } else {
            std::fprintf(stderr, "unknown or incomplete option: %s\n", a.c_str());
            return false;
        }
    }
    return true;
}

Json accounts_json()
{
    return { { "store", 1 }, { "shopname", "틸베이 한식당" }, { "tables", 12 },
        { "staff", { { "id", k_staff_id }, { "password", k_staff_pw }, { "useridx", 1001 } } },
        { "owner", { { "id", k_owner_id }, { "password", k_owner_pw }, { "useridx", 2001 } } }, { "cancelpin", "1234" } };
}

int run_init(std::string const& pos_dir, ServeOptions o)
{
    if (o.data_dir.empty())
        o.data_dir = pos_dir + "/platform-data";
    if (!tillbay::os::make_dir(pos_dir).ok() || !tillbay::os::make_dir(o.data_dir).ok()) {
        std::fprintf(stderr, "cannot create %s or %s\n", pos_dir.c_str(), o.data_dir.c_str());
        return 1;
    }
    // Opening the platform once makes its secrets, its certificate and its
    // database with the demo store and its history, anchored at today.
    Platform platform(o);
    std::string error;
    if (!platform.open(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    Secrets const& secrets = platform.secrets();
    ServerCertificate const& cert = platform.certificate();
    std::string webhost = std::string(o.web_tls ? "https://" : "http://") + o.host + ":" + std::to_string(o.web_port);
    std::string ini = "[SERVER]\r\nhost=" + o.host + "\r\nwebhost=" + webhost + "\r\nport=" + std::to_string(o.api_port)
        + "\r\nrelayport=" + std::to_string(o.relay_port) + "\r\ntls=" + (o.plain ? "0" : "1") + "\r\ntlsfp=" + cert.fingerprint
        + "\r\nheader=" + secrets.server_header + "\r\n[RELAY]\r\nheader=" + secrets.relay_header + "\r\n[APPKEY]\r\nkey="
        + secrets.app_key + "\r\niv=" + secrets.app_iv + "\r\n[STORE]\r\nstoreidx=1\r\ndevicetype=1\r\n[UPDATE]\r\npubkey="
        + platform.signer().public_key_hex() + "\r\n";
    Json accounts = accounts_json();
    accounts["data"] = o.data_dir;
    if (!tillbay::os::write_file_atomic(pos_dir + "/tillbay.ini", ini).ok()
        || !tillbay::os::write_file_atomic(pos_dir + "/accounts.json", accounts.dump(2) + "\n").ok()) {
        std::fprintf(stderr, "cannot write into %s\n", pos_dir.c_str());
        return 1;
    }
    std::printf("wrote %s/tillbay.ini and %s/accounts.json\n", pos_dir.c_str(), pos_dir.c_str());
    std::printf("update key %s\n", platform.signer().public_key_hex().c_str());
    std::printf("data %s\nfingerprint %s\nstore 1 (틸베이 한식당)\nstaff %s / %s\nowner %s / %s\ncancel PIN 1234\n",
        o.data_dir.c_str(), colon_fingerprint(cert.fingerprint).c_str(), k_staff_id, k_staff_pw, k_owner_id, k_owner_pw);
    return 0;
}

int run_serve(ServeOptions o)
{
    if (o.data_dir.empty()) {
        usage();
        return 2;
    }
    // Every thread inherits the blocked signals; only the main thread takes them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    static Platform platform(o);
    std::string error;
    if (!platform.open(error)) {
        std::fprintf(stderr, "tillbay-platform: %s\n", error.c_str());
        return 1;
    }
    SSL_CTX* tls = make_server_context(platform.certificate(), error);
    if (!tls) {
        std::fprintf(stderr, "tillbay-platform: %s\n", error.c_str());
        return 1;
    }
    SSL_CTX* socket_tls = o.plain ? nullptr : tls;
    static Json info;
    Listener::Handler api_handler = [](Conn& c) { serve_api_connection(platform, c); };
    Listener::Handler relay_handler = [](Conn& c) { serve_relay_connection(platform, c); };
    auto api = Listener::create("api", o.host, o.api_port, socket_tls, api_handler, error);
    auto relay = api ? Listener::create("relay", o.host, o.relay_port, socket_tls, relay_handler, error) : nullptr;
    auto web = relay ? Listener::create("web", o.host, o.web_port, o.web_tls ? tls : nullptr, [](Conn& c) { serve_web_connection(platform, c); }, error) : nullptr;
    auto control = web ? Listener::create("control", "127.0.0.1", o.control_port, nullptr, [](Conn& c) { serve_control_connection(platform, info, c); }, error) : nullptr;
    if (!control) {
        std::fprintf(stderr, "tillbay-platform: %s\n", error.c_str());
        return 1;
    }
    info = { { "api", { { "host", o.host }, { "port", api->port() }, { "tls", !o.plain } } },
        { "relay", { { "host", o.host }, { "port", relay->port() }, { "tls", !o.plain } } },
        { "web", { { "host", o.host }, { "port", web->port() }, { "tls", o.web_tls } } },
        { "control", { { "host", "127.0.0.1" }, { "port", control->port() } } },
        { "fingerprint", platform.certificate().fingerprint }, { "accounts", accounts_json() },
        { "serverHeader", platform.secrets().server_header }, { "relayHeader", platform.secrets().relay_header },
        { "appKey", platform.secrets().app_key }, { "appIv", platform.secrets().app_iv }, { "data", o.data_dir },
        { "updateKey", platform.signer().public_key_hex() } };

    // An outage on demand: the listener's socket is closed, so connections
    // are refused, and opened again on the same port. This function never
    // returns, so the switch may hold on to its locals.
    std::mutex switch_lock;
    int api_port = api->port(), relay_port = relay->port();
    platform.set_listener_switch([&](std::string const& name, bool up) -> std::string {
        std::lock_guard guard(switch_lock);
        std::unique_ptr<Listener>* listener = name == "api" ? &api : name == "relay" ? &relay : nullptr;
        if (!listener)
            return "listener must be api or relay";
        if (!up) {
            if (*listener)
                (*listener)->stop();
            listener->reset();
            return {};
        }
        if (*listener)
            return {};
        std::string failure;
        *listener = Listener::create(name, o.host, name == "api" ? api_port : relay_port, socket_tls,
            name == "api" ? api_handler : relay_handler, failure);
        return *listener ? std::string() : failure;
    });

    std::printf("fingerprint %s\n", platform.certificate().fingerprint.c_str());
    std::printf("api %s:%d %s\n", o.host.c_str(), api->port(), o.plain ? "plain" : "tls");
    std::printf("relay %s:%d %s\n", o.host.c_str(), relay->port(), o.plain ? "plain" : "tls");
    std::printf("web %s:%d %s\n", o.host.c_str(), web->port(), o.web_tls ? "https" : "http");
    std::printf("control 127.0.0.1:%d http\n", control->port());
    std::printf("update key %s\n", platform.signer().public_key_hex().c_str());
    std::printf("ready\n");
    std::fflush(stdout);

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    control->stop();
    web->stop();
    {
        std::lock_guard guard(switch_lock);
        if (relay)
            relay->stop();
        if (api)
            api->stop();
    }
    // Connection threads may still be finishing; the database lock makes the
    // close wait for a command in progress, and WAL keeps the file whole anyway.
    platform.db().close();
    std::fflush(stdout);
    std::_Exit(0);
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // Every connection has a short-lived thread of its own. With an arena per
    // thread, each one grew a fresh heap and handed it back on exit, which
    // cost more than answering; they share one instead.
    mallopt(M_ARENA_MAX, 1);
    std::vector<std::string> args(argv, argv + argc);
    if (args.size() < 2) {
        usage();
        return 2;
    }
    ServeOptions options;
    if (args[1] == "serve") {
        if (!parse_options(args, 2, options)) {
            usage();
            return 2;
        }
        return run_serve(options);
    }
    if (args[1] == "init" && args.size() >= 3 && !args[2].starts_with("--")) {
        if (!parse_options(args, 3, options)) {
            usage();
            return 2;
        }
        return run_init(args[2], options);
    }
    usage();
    return 2;
}
