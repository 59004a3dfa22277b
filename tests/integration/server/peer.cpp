#include "peer.h"

#include "foundation/paths.h"
#include "foundation/settings.h"
#include "os/fs.h"
#include "os/net.h"
#include "server/transport.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tillbay::peers {

TempDir::TempDir()
{
    char pattern[] = "/tmp/tillbay-server-XXXXXX";
    char* made = ::mkdtemp(pattern);
    m_path = made ? made : "/tmp";
}

TempDir::~TempDir()
{
    if (m_path != "/tmp") {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
}

bool shell(std::string const& command)
{
    std::string quiet = command + " >/dev/null 2>&1";
    return std::system(quiet.c_str()) == 0;
}

bool Child::start(std::vector<std::string> const& argv, std::vector<std::string> const& extra_env)
{
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (auto const& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e)
        env_text.emplace_back(*e);
    for (auto const& extra : extra_env)
        env_text.push_back(extra);
    std::vector<char*> env;
    for (auto& entry : env_text)
        env.push_back(entry.data());
    env.push_back(nullptr);
    int rc = posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    if (rc != 0) {
        ::close(pipe_fds[0]);
        m_pid = -1;
        return false;
    }
    m_out = pipe_fds[0];
    return true;
}

std::string Child::wait_for_line(std::string const& prefix, int timeout_ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        size_t end;
        while ((end = m_pending.find('\n')) != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.rfind(prefix, 0) == 0)
                return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_out < 0)
            return {};
        pollfd p { m_out, POLLIN, 0 };
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return {};
        char buffer[4096];
        ssize_t n = ::read(m_out, buffer, sizeof buffer);
        if (n <= 0)
            return {};
        m_pending.append(buffer, static_cast<size_t>(n));
    }
}

void Child::drain()
{
    int fd = m_out;
    m_drain = std::thread([fd] {
        char buffer[4096];
        while (::read(fd, buffer, sizeof buffer) > 0) { }
    });
}

void Child::stop()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            ::usleep(20'000);
        }
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }
    if (m_drain.joinable())
        m_drain.join();
    if (m_out >= 0) {
        ::close(m_out);
        m_out = -1;
    }
}

int port_of(std::string const& line)
{
    auto colon = line.rfind(':');
    return colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
}

// "api 127.0.0.1:PORT tls": the port after the first colon.
static int first_port(std::string const& line)
{
    auto colon = line.find(':');
    return colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
}

int free_port()
{
    auto listener = os::net::listen_tcp("127.0.0.1", 0, 1);
    return listener.ok() ? os::net::local_port(listener.value().get()) : 0;
}

bool Certificates::make(std::string const& folder)
{
    dir = folder;
    std::string const ec = " -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes";
    auto signed_leaf = [&](std::string const& name, std::string const& cn, std::string const& san,
                           std::string const& days) {
        std::string ext = dir + "/" + name + ".ext";
        FILE* f = std::fopen(ext.c_str(), "w");
        if (!f)
            return false;
        std::fprintf(f, "subjectAltName=%s\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature\n"
                        "extendedKeyUsage=serverAuth\n",
            san.c_str());
        std::fclose(f);
        return shell("openssl req -new" + ec + " -keyout " + key(name) + " -out " + dir + "/" + name + ".csr -subj /CN="
                   + cn)
            && shell("openssl x509 -req -in " + dir + "/" + name + ".csr -CA " + pem("ca") + " -CAkey " + key("ca")
                + " -set_serial " + std::to_string(std::rand() % 100000 + 2) + " -days " + days + " -extfile " + ext
                + " -out " + pem(name));
    };
    return shell("openssl req -x509" + ec + " -keyout " + key("ca") + " -out " + pem("ca")
               + " -days 30 -subj '/CN=Tillbay Test CA' -addext basicConstraints=critical,CA:TRUE"
                 " -addext keyUsage=critical,keyCertSign,cRLSign")
        && signed_leaf("leaf", "localhost", "DNS:localhost,IP:127.0.0.1", "30")
        && signed_leaf("other", "other.example", "DNS:other.example", "30")
        && signed_leaf("expired", "localhost", "DNS:localhost,IP:127.0.0.1", "-1")
        && shell("openssl req -x509" + ec + " -keyout " + key("self") + " -out " + pem("self")
            + " -days 30 -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1");
}

std::string Certificates::colon_fingerprint(std::string const& name) const
{
    std::string command = "openssl x509 -in " + pem(name) + " -noout -fingerprint -sha256";
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return {};
    char line[512] = {};
    bool got = std::fgets(line, sizeof line, p) != nullptr;
    ::pclose(p);
    if (!got)
        return {};
    // "sha256 Fingerprint=AB:CD:..."
    std::string text(line);
    auto eq = text.find('=');
    if (eq == std::string::npos)
        return {};
    text = text.substr(eq + 1);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string Platform::binary()
{
    // ctest names the build folder; a benchmark run by hand finds it above
    // its own binary (<build>/tests/...).
    std::string build;
    if (char const* named = std::getenv("TB_BUILD_DIR"))
        build = named;
    else {
        std::error_code ignored;
        std::string self = std::filesystem::read_symlink("/proc/self/exe", ignored).string();
        auto tests = self.rfind("/tests/");
        build = tests == std::string::npos ? "." : self.substr(0, tests);
    }
    std::string path = build + "/tools/platform/tillbay-platform";
    return ::access(path.c_str(), X_OK) == 0 ? path : std::string {};
}

bool Platform::start(bool plain)
{
    std::string program = binary();
    if (program.empty())
        return false;
    pos_dir = dir.file("pos");
    std::string data = dir.file("data");
    if (!shell(program + " init " + pos_dir + " --data " + data + (plain ? " --plain" : "")))
        return false;
    std::vector<std::string> argv { program, "serve", "--data", data, "--api-port", "0", "--relay-port", "0",
        "--web-port", "0", "--control-port", "0" };
    if (plain)
        argv.push_back("--plain");
    argv.insert(argv.end(), serve_args.begin(), serve_args.end());
    if (!child.start(argv))
        return false;
    api_port = first_port(child.wait_for_line("api ", 20000));
    control_port = first_port(child.wait_for_line("control ", 10000));
    if (child.wait_for_line("ready", 10000).empty() || api_port <= 0 || control_port <= 0)
        return false;
    child.drain();
    auto accounts = os::read_file(pos_dir + "/accounts.json", 1 << 20);
    if (!accounts.ok())
        return false;
    auto json = nlohmann::json::parse(accounts.value(), nullptr, false);
    if (json.is_discarded())
        return false;
    staff_id = json["staff"]["id"];
    staff_password = json["staff"]["password"];
    owner_id = json["owner"]["id"];
    owner_password = json["owner"]["password"];
    storeidx = json.value("store", 1);
    return true;
}

bool Platform::configure_pos()
{
    paths::set_exe_dir_for_testing(pos_dir + "/");
    if (!settings::write_profile("SERVER", "port", std::to_string(api_port)))
        return false;
    settings::read_server_settings();
    auto const& server = settings::server();
    transport::configure(server.tls, server.tlsfp, server.host);
    return server.port == api_port;
}

std::string Platform::control(std::string const& method, std::string const& path, std::string const& body)
{
    std::string body_file = dir.file("control-body.json");
    std::string command = "curl -s -m 10 -X " + method + " http://127.0.0.1:" + std::to_string(control_port) + path;
    if (!body.empty()) {
        (void)os::write_file(body_file, body);
        command += " -H 'Content-Type: application/json' --data-binary @" + body_file;
    }
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return {};
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    ::pclose(p);
    return out;
}

std::vector<std::string> Platform::requests_after(long long seq, long long* last_seq)
{
    std::vector<std::string> lines;
    auto json = nlohmann::json::parse(control("GET", "/control/requests?after=" + std::to_string(seq)), nullptr, false);
    if (json.is_discarded() || !json.contains("requests"))
        return lines;
    for (auto const& r : json["requests"]) {
        if (r.value("listener", "") != "api")
            continue;
        lines.push_back(std::to_string(r.value("grade", 0)) + " " + std::to_string(r.value("useridx", 0LL)) + " "
            + r.value("command", ""));
        if (last_seq)
            *last_seq = r.value("seq", 0LL);
    }
    return lines;
}

} // namespace tillbay::peers
