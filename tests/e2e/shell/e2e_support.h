#pragma once

// What the end-to-end tests need around the real program: free loopback
// ports, child processes in their own process group (so Xvfb, the web
// processes and everything else they start go with them), a tiny HTTP client
// for the automation endpoint, and an installation folder laid out like dist/.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

int free_port();

class Child {
public:
    Child() = default;
    // Starts argv with the extra environment entries, stdout and stderr into log_path.
    static Child start(std::vector<std::string> const& argv, std::vector<std::string> const& env,
        std::string const& log_path);
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;
    ~Child();

    bool running() const;
    void stop();
    // Waits for the child to end by itself: its exit status, or nothing when
    // it was killed by a signal or is still running when the time is up.
    std::optional<int> wait_for_exit(std::chrono::milliseconds limit);
    int pid() const { return m_pid; }

private:
    int m_pid = -1;
};

struct HttpAnswer {
    int status = 0;
    std::string body;
};
HttpAnswer http(int port, std::string const& method, std::string const& path, std::string const& body = {});

// The standard output of a shell command (sh -c); its wait status in *status
// when asked for, -1 when the shell could not be started.
std::string command_output(std::string const& command, int* status = nullptr);

std::string read_text(std::string const& path);
bool write_text(std::string const& path, std::string const& text);
std::string make_temp_dir(std::string const& prefix);
bool copy_file(std::string const& from, std::string const& to, bool executable = false);
bool copy_dir_files(std::string const& from, std::string const& to);

// Polls until check() is true or the time runs out.
bool wait_for(std::function<bool()> const& check, std::chrono::milliseconds limit);

// The value of one JSON key in a flat answer, as text ("1", "true", "\"x\"").
std::string json_field(std::string const& json, std::string const& key);

} // namespace e2e
