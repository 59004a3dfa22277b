#include "tests/integration/discovery/lan_fixture.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tillbay::test {

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

pid_t start(std::vector<std::string> argv, std::vector<std::string> const& extra_env, int output_fd)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output_fd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, output_fd, 1);
        posix_spawn_file_actions_adddup2(&actions, output_fd, 2);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own process group, so that stopping it reaches what it started.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    auto args = pointers(argv);
    auto envp = pointers(env);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

} // namespace

Process::Process(std::vector<std::string> const& argv, std::vector<std::string> const& env, std::string const& log_path)
{
    int fd = -1;
    if (!log_path.empty())
        fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    m_pid = start(argv, env, fd);
    if (fd >= 0)
        ::close(fd);
}

Process::~Process() { stop(); }

Process::Process(Process&& other) noexcept
    : m_pid(other.m_pid)
{
    other.m_pid = -1;
}

Process& Process::operator=(Process&& other) noexcept
{
    if (this != &other) {
        stop();
        m_pid = other.m_pid;
        other.m_pid = -1;
    }
    return *this;
}

bool Process::running()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

void Process::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(-m_pid, SIGTERM);
    for (int i = 0; i < 40; ++i) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            ::kill(-m_pid, SIGKILL); // anything it left behind in its group
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(-m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

int run(std::vector<std::string> const& argv, std::string* output)
{
    char path[] = "/tmp/tbd-run-XXXXXX";
    int fd = ::mkstemp(path);
    pid_t pid = start(argv, {}, fd);
    int status = -1;
    if (pid > 0)
        ::waitpid(pid, &status, 0);
    if (output) {
        output->clear();
        ::lseek(fd, 0, SEEK_SET);
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
            output->append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    ::unlink(path);
    return pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string build_path(std::string const& relative)
{
    char const* build = std::getenv("TB_BUILD_DIR");
    return std::string(build ? build : ".") + "/" + relative;
}

std::string source_path(std::string const& relative)
{
    char const* source = std::getenv("TB_SOURCE_DIR");
    return std::string(source ? source : ".") + "/" + relative;
}

bool have_program(std::string const& path) { return ::access(path.c_str(), X_OK) == 0; }

std::string Lan::unavailable_reason()
{
    if (::geteuid() != 0)
        return "network namespaces need root; the printer search is never tried on this machine's own network";
    if (!have_program("/usr/sbin/ip") && !have_program("/sbin/ip") && !have_program("/usr/bin/ip"))
        return "the ip command (iproute2) is missing";
    std::string probe = "tbdprobe" + std::to_string(::getpid());
    if (run({ "ip", "netns", "add", probe }) != 0)
        return "ip netns add failed: network namespaces are not available here";
    run({ "ip", "netns", "del", probe });
    return {};
}

Lan::Lan()
{
    // Short names: interface names have at most 15 bytes.
    m_prefix = "tbd" + std::to_string(::getpid() % 100000) + std::to_string(std::rand() % 100);
    char folder[] = "/tmp/tbd-lan-XXXXXX";
    if (!::mkdtemp(folder))
        return;
    m_folder = folder;
    m_switch = m_prefix + "sw";
    if (run({ "ip", "netns", "add", m_switch }) != 0)
        return;
    m_namespaces.push_back(m_switch);
    m_ok = run({ "ip", "-n", m_switch, "link", "add", "br0", "type", "bridge", "mcast_snooping", "0" }) == 0
        && run({ "ip", "-n", m_switch, "link", "set", "br0", "up" }) == 0
        && run({ "ip", "-n", m_switch, "link", "set", "lo", "up" }) == 0;
}

Lan::~Lan()
{
    for (auto it = m_namespaces.rbegin(); it != m_namespaces.rend(); ++it)
        run({ "ip", "netns", "del", *it });
    if (!m_folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
}

std::string Lan::add_host(std::string const& name, std::vector<std::string> const& addresses)
{
    std::string ns = m_prefix + name;
    std::string outer = m_prefix + "p" + std::to_string(++m_links);
    if (run({ "ip", "netns", "add", ns }) != 0) {
        m_ok = false;
        return ns;
    }
    m_namespaces.push_back(ns);
    bool ok = run({ "ip", "-n", m_switch, "link", "add", outer, "type", "veth", "peer", "name", "eth0", "netns", ns }) == 0
        && run({ "ip", "-n", m_switch, "link", "set", outer, "master", "br0" }) == 0
        && run({ "ip", "-n", m_switch, "link", "set", outer, "up" }) == 0
        && run({ "ip", "-n", ns, "link", "set", "lo", "up" }) == 0;
    for (auto const& address : addresses)
        ok = ok && run({ "ip", "-n", ns, "addr", "add", address, "dev", "eth0" }) == 0;
    ok = ok && run({ "ip", "-n", ns, "link", "set", "eth0", "up" }) == 0;
    if (!ok)
        m_ok = false;
    return ns;
}

Process Lan::spawn(std::string const& host_namespace, std::vector<std::string> const& argv,
    std::vector<std::string> const& env, std::string const& log_path)
{
    std::vector<std::string> full { "ip", "netns", "exec", host_namespace };
    full.insert(full.end(), argv.begin(), argv.end());
    return Process(full, env, log_path);
}

int Lan::exec(std::string const& host_namespace, std::vector<std::string> const& argv, std::string* output)
{
    std::vector<std::string> full { "ip", "netns", "exec", host_namespace };
    full.insert(full.end(), argv.begin(), argv.end());
    return run(full, output);
}

} // namespace tillbay::test
