#pragma once

// Child processes for the update tests: run to the end and collect the
// output, or start one and kill it.

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tillbay::test {

class Child {
public:
    // Starts argv with extra environment entries ("NAME=value"); stdout and
    // stderr go to one pipe, stdin is a pipe the child can wait on.
    Child(std::vector<std::string> const& argv, std::vector<std::string> const& extra_env = {})
    {
        int out[2], in[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        std::vector<char*> args;
        for (auto const& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<std::string> env_storage;
        for (char** e = environ; *e; ++e)
            env_storage.emplace_back(*e);
        for (auto const& e : extra_env)
            env_storage.push_back(e);
        std::vector<char*> env;
        for (auto& e : env_storage)
            env.push_back(e.data());
        env.push_back(nullptr);
        if (::posix_spawn(&m_pid, argv[0].c_str(), &actions, nullptr, args.data(), env.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(in[0]);
        m_out = out[0];
        m_in = in[1];
    }
    ~Child()
    {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            wait();
        }
        if (m_out >= 0)
            ::close(m_out);
        close_stdin();
    }
    Child(Child const&) = delete;
    Child& operator=(Child const&) = delete;

    pid_t pid() const { return m_pid; }
    void close_stdin()
    {
        if (m_in >= 0)
            ::close(m_in);
        m_in = -1;
    }
    // Reads output until the text appears or the pipe closes (or timeout_ms).
    bool wait_for(std::string const& text, int timeout_ms = 20000)
    {
        while (m_output.find(text) == std::string::npos) {
            pollfd p { m_out, POLLIN, 0 };
            if (::poll(&p, 1, timeout_ms) <= 0)
                return false;
            char buffer[4096];
            ssize_t n = ::read(m_out, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            m_output.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }
    // Reads to the end of the output (every process holding the pipe ended).
    std::string const& read_all(int timeout_ms = 30000)
    {
        wait_for(std::string("\x01never\x01"), timeout_ms);
        return m_output;
    }
    std::string const& output() const { return m_output; }
    int wait()
    {
        int status = 0;
        if (m_pid > 0 && !m_reaped) {
            ::waitpid(m_pid, &status, 0);
            m_reaped = true;
            m_status = status;
        }
        return m_status;
    }
    void kill_now()
    {
        if (m_pid > 0 && !m_reaped)
            ::kill(m_pid, SIGKILL);
        wait();
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_in = -1;
    bool m_reaped = false;
    int m_status = 0;
    std::string m_output;
};

// Runs argv to its end; its whole output (and that of any process it started
// that kept the output pipe).
inline std::string run(std::vector<std::string> const& argv, std::vector<std::string> const& extra_env = {})
{
    Child child(argv, extra_env);
    child.close_stdin();
    auto out = child.read_all();
    child.wait();
    return out;
}

} // namespace tillbay::test
