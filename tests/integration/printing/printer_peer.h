#pragma once

// The real peers the printing tests deliver to: tillbay-printer on a free
// loopback port, storing its jobs in a folder of the test's own.

#include "e2e_support.h"

#include <chrono>
#include <string>
#include <vector>

namespace printing_test {

std::string build_dir();
std::string make_dir(std::string const& prefix);
void remove_tree(std::string const& path);

class PrinterPeer {
public:
    // Starts tillbay-printer with the extra options; port() is 0 when it
    // did not come up.
    explicit PrinterPeer(std::vector<std::string> options = {});
    ~PrinterPeer();

    int port() const { return m_port; }
    std::string address() const { return "tcp|127.0.0.1|" + std::to_string(m_port); }
    std::string const& jobs() const { return m_jobs; }
    std::string log() const;

    // The bytes of job n ("0001.bin"), once it is complete; "" when it did
    // not come in time.
    std::string job(int n, std::chrono::milliseconds wait = std::chrono::seconds(10)) const;
    std::string job_text(int n) const;
    int job_count() const;

private:
    std::string m_dir;
    std::string m_jobs;
    std::string m_log;
    e2e::Child m_child;
    int m_port = 0;
};

} // namespace printing_test
