#pragma once

// The machine's firewall, for the tablet door's port. Linux firewalls open
// ports, not programs, so the rule is for a TCP port. Two tools are known:
// firewalld (firewall-cmd) and ufw. Reading the state needs no privilege
// where the tool allows it; changing it runs the tool through pkexec, which
// asks the user for an administrator's consent in a dialog of its own, so
// changes return at once and report their outcome later.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tillbay::os::firewall {

enum class Tool {
    None,
    Firewalld,
    Ufw,
};

struct State {
    Tool tool = Tool::None;
    bool active = false; // the firewall is running and filtering
    // 1: the port is open for incoming TCP; 0: it is not; -1: unknown (no
    // tool, or its rules cannot be read without privileges).
    int port_open = -1;
};

// Where the tools are looked for; tests point these at folders of their own.
struct Config {
    std::vector<std::string> search_dirs { "/usr/sbin", "/usr/bin", "/sbin", "/bin" };
    std::string ufw_dir = "/etc/ufw"; // ufw.conf and user.rules
};

enum class Change {
    Started,    // the outcome comes through the callback
    NoTool,     // neither firewall tool is installed
    NoElevator, // pkexec is missing
    Busy,       // an earlier change still waits for its outcome
    Failed,     // the process could not be started
};

class Firewall {
public:
    virtual ~Firewall() = default;

    // Runs the tool's queries (a short child process or a file read); call
    // it off the UI thread.
    virtual State check(int port) = 0;

    // Opens the TCP ports, or removes rules for them. done(true) when the
    // tool ran and succeeded, done(false) when the user refused or it failed;
    // called on a thread of the firewall's own.
    virtual Change open_port(int port, std::function<void(bool ok)> done) = 0;
    virtual Change close_ports(std::vector<int> const& ports, std::function<void(bool ok)> done) = 0;
};

// The machine's firewall. Destroying it ends a change still waiting (its
// callback then reports false) and waits for its thread.
std::unique_ptr<Firewall> system_firewall(Config config = {});

char const* tool_name(Tool tool);

} // namespace tillbay::os::firewall
