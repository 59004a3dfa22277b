#include "os/firewall.h"

#include "foundation/log.h"
#include "os/fs.h"
#include "os/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstring>
#include <mutex>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tillbay::os::firewall {

namespace {

using Clock = std::chrono::steady_clock;

// A query that has not answered in this time counts as unknown.
constexpr auto query_limit = std::chrono::seconds(5);
constexpr size_t max_rules_file = 1024 * 1024;
constexpr char rule_comment[] = "tillbay tablet door";

std::string find_tool(Config const& config, std::string_view name)
{
    for (auto const& dir : config.search_dirs) {
        std::string path = dir + "/" + std::string(name);
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

// Starts argv with its standard streams on /dev/null; -1 when it cannot.
pid_t spawn(std::vector<std::string> const& argv)
{
    std::vector<char*> args;
    for (auto const& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// The exit code of a short query, or nullopt when it could not run or took too long.
std::optional<int> run_query(std::vector<std::string> const& argv)
{
    pid_t pid = spawn(argv);
    if (pid < 0)
        return std::nullopt;
    auto deadline = Clock::now() + query_limit;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
        if (done < 0 && errno != EINTR)
            return std::nullopt;
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Whether a ufw port field ("8787", "80,443", "8000:8999") covers the port.
bool ufw_ports_cover(std::string_view field, int port)
{
    size_t start = 0;
    while (start <= field.size()) {
        size_t comma = field.find(',', start);
        std::string piece(field.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        size_t colon = piece.find(':');
        int low = std::atoi(piece.substr(0, colon).c_str());
        int high = colon == std::string::npos ? low : std::atoi(piece.substr(colon + 1).c_str());
        if (low > 0 && port >= low && port <= high)
            return true;
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return false;
}

// ufw keeps its added rules in user.rules as "### tuple ### allow tcp 8787
// 0.0.0.0/0 any 0.0.0.0/0 in" lines; the file is readable by root only on
// most systems.
int ufw_rule_for(std::string const& rules_text, int port)
{
    std::istringstream lines(rules_text);
    std::string line;
    while (std::getline(lines, line)) {
        constexpr std::string_view mark = "### tuple ### ";
        if (!line.starts_with(mark))
            continue;
        std::istringstream words(line.substr(mark.size()));
        std::string action, protocol, dport, dst, sport, src, direction;
        words >> action >> protocol >> dport >> dst >> sport >> src >> direction;
        if (action.starts_with("allow") && (protocol == "tcp" || protocol == "any") && direction.starts_with("in")
            && ufw_ports_cover(dport, port))
            return 1;
    }
    return 0;
}

class SystemFirewall final : public Firewall {
public:
    explicit SystemFirewall(Config config)
        : m_config(std::move(config))
    {
    }

    ~SystemFirewall() override
    {
        std::thread waiter;
        {
            std::lock_guard guard(m_lock);
            if (m_pid > 0)
                ::kill(m_pid, SIGTERM);
            waiter = std::move(m_waiter);
        }
        if (waiter.joinable())
            waiter.join();
    }

    State check(int port) override
    {
        State state;
        std::string firewall_cmd = find_tool(m_config, "firewall-cmd");
        std::string ufw = find_tool(m_config, "ufw");
        if (!firewall_cmd.empty()) {
            state.tool = Tool::Firewalld;
            state.active = run_query({ firewall_cmd, "--state" }) == 0;
            if (state.active) {
                auto answer = run_query({ firewall_cmd, "--query-port=" + std::to_string(port) + "/tcp" });
                state.port_open = answer == 0 ? 1 : answer == 1 ? 0 : -1;
                return state;
            }
            if (ufw.empty())
                return state;
        }
        if (!ufw.empty()) {
            state.tool = Tool::Ufw;
            state.port_open = -1;
            auto conf = os::read_file(m_config.ufw_dir + "/ufw.conf", max_rules_file);
            state.active = conf.ok() && conf.value().find("\nENABLED=yes") != std::string::npos;
            if (conf.ok() && conf.value().starts_with("ENABLED=yes"))
                state.active = true;
            auto rules = os::read_file(m_config.ufw_dir + "/user.rules", max_rules_file);
            if (rules.ok())
                state.port_open = ufw_rule_for(rules.value(), port);
        }
        return state;
    }

    Change open_port(int port, std::function<void(bool)> done) override
    {
        std::string p = std::to_string(port);
        return change(
            [&](Tool tool, std::string const& path) {
                if (tool == Tool::Firewalld)
                    return path + " --permanent --add-port=" + p + "/tcp && " + path + " --add-port=" + p + "/tcp";
                return path + " allow " + p + "/tcp comment '" + rule_comment + "'";
            },
            std::move(done));
    }

    Change close_ports(std::vector<int> const& ports, std::function<void(bool)> done) override
    {
        return change(
            [&](Tool tool, std::string const& path) {
                std::string script;
                for (int port : ports) {
                    std::string p = std::to_string(port);
                    if (!script.empty())
                        script += "; ";
                    if (tool == Tool::Firewalld)
                        script += path + " --permanent --remove-port=" + p + "/tcp; " + path + " --remove-port=" + p + "/tcp";
                    else
                        script += path + " delete allow " + p + "/tcp";
                }
                // The outcome is that of the last removal; earlier ones may
                // find their rule gone already, which is no failure.
                return script + "; true";
            },
            std::move(done));
    }

private:
    template<typename MakeScript>
    Change change(MakeScript&& make_script, std::function<void(bool)> done)
    {
        std::string firewall_cmd = find_tool(m_config, "firewall-cmd");
        std::string ufw = find_tool(m_config, "ufw");
        Tool tool = Tool::None;
        std::string path;
        // A running firewalld wins; otherwise ufw; otherwise firewalld's
        // permanent rules, which take effect when it starts.
        if (!firewall_cmd.empty() && (ufw.empty() || run_query({ firewall_cmd, "--state" }) == 0)) {
            tool = Tool::Firewalld;
            path = firewall_cmd;
        } else if (!ufw.empty()) {
            tool = Tool::Ufw;
            path = ufw;
        }
        if (tool == Tool::None)
            return Change::NoTool;
        std::string pkexec = find_tool(m_config, "pkexec");
        if (pkexec.empty())
            return Change::NoElevator;
        std::lock_guard guard(m_lock);
        if (m_pid > 0)
            return Change::Busy;
        if (m_waiter.joinable())
            m_waiter.join(); // the previous change has ended; its thread is done
        pid_t pid = spawn({ pkexec, "/bin/sh", "-c", make_script(tool, path) });
        if (pid < 0)
            return Change::Failed;
        m_pid = pid;
        try {
            m_waiter = os::process::start_thread([this, pid, done = std::move(done)] {
                int status = 0;
                pid_t rc;
                do
                    rc = ::waitpid(pid, &status, 0);
                while (rc < 0 && errno == EINTR);
                bool ok = rc == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
                {
                    std::lock_guard guard(m_lock);
                    m_pid = -1;
                }
                try {
                    if (done)
                        done(ok);
                } catch (...) {
                    log::bridge("DOOR", "방화벽 결과 처리 실패");
                }
            });
        } catch (...) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
            m_pid = -1;
            return Change::Failed;
        }
        return Change::Started;
    }

    Config m_config;
    std::mutex m_lock;
    pid_t m_pid = -1;
    std::thread m_waiter;
};

} // namespace

std::unique_ptr<Firewall> system_firewall(Config config) { return std::make_unique<SystemFirewall>(std::move(config)); }

char const* tool_name(Tool tool)
{
    switch (tool) {
    case Tool::Firewalld:
        return "firewalld";
    case Tool::Ufw:
        return "ufw";
    case Tool::None:
        break;
    }
    return "";
}

} // namespace tillbay::os::firewall
