#include "peer.h"

#include "os/net.h"

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

} // namespace tillbay::peers
