#include "door_client.h"

#include "os/net.h"

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace door_test {

Server Server::start(std::vector<std::string> const& argv)
{
    Server server;
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0)
        return server;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::close(in[1]);
        ::close(out[0]);
        std::vector<char*> args;
        for (auto const& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    server.pid = pid;
    server.stdin_fd = in[1];
    server.stdout_fd = out[0];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        server.drain();
        size_t at = server.output.find("port ");
        if (at != std::string::npos && server.output.find('\n', at) != std::string::npos) {
            char token[64] = {};
            std::sscanf(server.output.c_str() + at, "port %d token %63s", &server.port, token);
            server.token = token;
            break;
        }
        pollfd p { server.stdout_fd, POLLIN, 0 };
        ::poll(&p, 1, 100);
    }
    return server;
}

std::string Server::drain()
{
    std::string fresh;
    char buffer[4096];
    for (;;) {
        pollfd p { stdout_fd, POLLIN, 0 };
        if (stdout_fd < 0 || ::poll(&p, 1, 0) <= 0)
            break;
        ssize_t n = ::read(stdout_fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        fresh.append(buffer, static_cast<size_t>(n));
    }
    output += fresh;
    return fresh;
}

void Server::stop()
{
    if (pid <= 0)
        return;
    ::close(stdin_fd);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        ::usleep(20000);
    }
    ::close(stdout_fd);
    pid = -1;
}

Run shell(std::string const& command)
{
    Run run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        run.out.append(buffer.data(), n);
    int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string raw_request(int port, std::string const& bytes, bool close_send, int timeout_ms)
{
    using namespace tillbay::os::net;
    auto outcome = connect_tcp("127.0.0.1", port, 2000);
    if (!outcome.socket.valid())
        return "<no connection>";
    int fd = outcome.socket.get();
    (void)send_all(fd, bytes, 2000);
    if (close_send)
        ::shutdown(fd, SHUT_WR);
    std::string answer;
    char buffer[4096];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
        if (wait(fd, Direction::Read, 100) != Ready::Yes)
            continue;
        auto got = recv_some(fd, buffer);
        if (!got.ok() || got.value() == 0)
            break;
        answer.append(buffer, got.value());
    }
    return answer;
}

std::string temp_dir(std::string const& prefix)
{
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return {};
    return pattern;
}

} // namespace door_test
