#pragma once

// The search's commands run by tb-discovery-driver inside a namespace of the
// test LAN: lines in, answers out.

#include <chrono>
#include <functional>
#include <regex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tillbay::test {

class DriverSession {
public:
    // Starts the driver in the namespace, with extra environment entries.
    DriverSession(std::string const& host_namespace, std::vector<std::string> const& env = {},
        std::vector<std::string> const& args = {});
    ~DriverSession();
    DriverSession(DriverSession const&) = delete;
    DriverSession& operator=(DriverSession const&) = delete;

    bool started() const { return m_pid > 0; }
    void send(std::string const& line);
    // The next output line that satisfies the predicate, or "" after timeout.
    std::string wait_for(std::function<bool(std::string const&)> const& wanted, std::chrono::milliseconds timeout);
    std::vector<std::string> const& lines() const { return m_lines; }

private:
    bool read_line(std::string& line, std::chrono::steady_clock::time_point deadline);

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::string m_buffer;
    std::vector<std::string> m_lines;
};

// One entry of a setPrinterDiscovery answer.
struct Item {
    std::string ip;
    int port = 0;
    std::string name;
    std::string evidence;
    bool selectable = false;
};

struct Answer {
    bool done = false, cancelled = false, limited = false;
    long checked = 0, total = 0;
    std::string error;
    std::vector<Item> items;
    std::vector<Item> at(std::string const& ip) const;
};

// Reads the object of a setPrinterDiscovery script as the driver printed it.
Answer parse_answer(std::string const& line);

} // namespace tillbay::test
