#pragma once

// A made-up shop LAN for the printer search: network namespaces joined by a
// bridge, with private addresses that exist only there, and the peers that
// live on it. Everything is created by the test and torn down when the
// fixture goes; nothing touches the machine's own interfaces.

#include <string>
#include <sys/types.h>
#include <vector>

namespace tillbay::test {

// A child process, killed (SIGTERM, then SIGKILL) and reaped when it goes.
class Process {
public:
    Process() = default;
    explicit Process(std::vector<std::string> const& argv, std::vector<std::string> const& env = {},
        std::string const& log_path = {});
    ~Process();
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(Process const&) = delete;
    Process& operator=(Process const&) = delete;

    pid_t pid() const { return m_pid; }
    bool running();
    void stop();

private:
    pid_t m_pid = -1;
};

// Runs a command to the end; its exit status (or -1), its output in *output.
int run(std::vector<std::string> const& argv, std::string* output = nullptr);

class Lan {
public:
    // Why namespaces cannot be made here (not root, no ip command), or empty.
    static std::string unavailable_reason();

    Lan();
    ~Lan();
    Lan(Lan const&) = delete;
    Lan& operator=(Lan const&) = delete;

    // A new host on the LAN: its namespace, with eth0 holding the address
    // ("10.99.0.21/24", several allowed) and plugged into the bridge.
    // Returns the namespace name.
    std::string add_host(std::string const& name, std::vector<std::string> const& addresses);

    // Starts argv inside the host's namespace.
    Process spawn(std::string const& host_namespace, std::vector<std::string> const& argv,
        std::vector<std::string> const& env = {}, std::string const& log_path = {});
    int exec(std::string const& host_namespace, std::vector<std::string> const& argv, std::string* output = nullptr);

    // A folder for this LAN's files, removed with it.
    std::string const& folder() const { return m_folder; }
    bool ok() const { return m_ok; }

private:
    std::string m_prefix;
    std::string m_switch;
    std::string m_folder;
    std::vector<std::string> m_namespaces;
    int m_links = 0;
    bool m_ok = false;
};

// Paths of the programs the tests start.
std::string build_path(std::string const& relative);
std::string source_path(std::string const& relative);
bool have_program(std::string const& path);

} // namespace tillbay::test
