#pragma once

// What the door's integration tests need around the door: the door test
// server as a child process, shell commands with their output, and raw
// loopback connections for what curl cannot send.

#include <string>
#include <vector>

namespace door_test {

struct Server {
    int pid = -1;
    int stdin_fd = -1;  // closing it ends the server
    int stdout_fd = -1;
    int port = 0;
    std::string token;
    std::string output; // everything read from its standard output so far

    // Starts argv (prefixed, e.g. with "ip netns exec NAME") and waits for its port line.
    static Server start(std::vector<std::string> const& argv);
    // Reads what the server printed since the last call.
    std::string drain();
    void stop();
    ~Server() { stop(); }
};

struct Run {
    int status = -1;
    std::string out;
};
// Runs a shell command and returns its exit status and standard output.
Run shell(std::string const& command);

// Sends bytes on a new loopback connection, optionally closes the sending
// side, and returns everything the server answers.
std::string raw_request(int port, std::string const& bytes, bool close_send = false, int timeout_ms = 6000);

std::string temp_dir(std::string const& prefix);

} // namespace door_test
