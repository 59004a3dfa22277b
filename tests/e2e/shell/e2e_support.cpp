#include "e2e_support.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace e2e {

int free_port()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

Child Child::start(std::vector<std::string> const& argv, std::vector<std::string> const& env, std::string const& log_path)
{
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
        environment.emplace_back(*e);
    for (auto const& entry : env) {
        std::string key = entry.substr(0, entry.find('='));
        std::erase_if(environment, [&](std::string const& old) { return old.rfind(key + "=", 0) == 0; });
        environment.push_back(entry);
    }
    std::vector<char*> args, envp;
    for (auto const& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (auto const& e : environment)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own session: stop() ends the child and everything it started.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    Child child;
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), envp.data()) == 0)
        child.m_pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return child;
}

Child::Child(Child&& other) noexcept
    : m_pid(other.m_pid)
{
    other.m_pid = -1;
}

Child& Child::operator=(Child&& other) noexcept
{
    if (this != &other) {
        stop();
        m_pid = other.m_pid;
        other.m_pid = -1;
    }
    return *this;
}

Child::~Child() { stop(); }

bool Child::running() const
{
    if (m_pid <= 0)
        return false;
    return ::waitpid(m_pid, nullptr, WNOHANG) == 0;
}

std::optional<int> Child::wait_for_exit(std::chrono::milliseconds limit)
{
    if (m_pid <= 0)
        return std::nullopt;
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            ::kill(-m_pid, SIGKILL); // anything of the group that is left
            m_pid = -1;
            if (WIFEXITED(status))
                return WEXITSTATUS(status);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

void Child::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(-m_pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (::waitpid(m_pid, nullptr, WNOHANG) != 0) {
            ::kill(-m_pid, SIGKILL); // anything of the group that is left
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::kill(-m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

HttpAnswer http(int port, std::string const& method, std::string const& path, std::string const& body)
{
    HttpAnswer answer;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return answer;
    }
    std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nContent-Length: "
        + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string data;
    char buffer[65536];
    for (;;) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, 70000) <= 0)
            break;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    size_t head_end = data.find("\r\n\r\n");
    if (data.rfind("HTTP/1.1 ", 0) != 0 || head_end == std::string::npos)
        return answer;
    answer.status = std::atoi(data.c_str() + 9);
    answer.body = data.substr(head_end + 4);
    return answer;
}

std::string command_output(std::string const& command, int* status)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status)
            *status = -1;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    int rc = ::pclose(pipe);
    if (status)
        *status = rc;
    return out;
}

std::string read_text(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool write_text(std::string const& path, std::string const& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string make_temp_dir(std::string const& prefix)
{
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    char* dir = ::mkdtemp(buffer.data());
    return dir ? dir : "";
}

bool copy_file(std::string const& from, std::string const& to, bool executable)
{
    std::string data = read_text(from);
    if (data.empty() || !write_text(to, data))
        return false;
    if (executable)
        ::chmod(to.c_str(), 0755);
    return true;
}

bool copy_dir_files(std::string const& from, std::string const& to)
{
    ::mkdir(to.c_str(), 0755);
    DIR* dir = ::opendir(from.c_str());
    if (!dir)
        return false;
    bool ok = true;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        std::string source = from + "/" + name;
        if (::stat(source.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            ok = copy_dir_files(source, to + "/" + name) && ok;
        else
            ok = copy_file(source, to + "/" + name, (st.st_mode & 0111) != 0) && ok;
    }
    ::closedir(dir);
    return ok;
}

bool wait_for(std::function<bool()> const& check, std::chrono::milliseconds limit)
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (check())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    return check();
}

std::string json_field(std::string const& json, std::string const& key)
{
    std::string needle = "\"" + key + "\":";
    size_t at = json.find(needle);
    if (at == std::string::npos)
        return {};
    size_t start = at + needle.size();
    if (start < json.size() && json[start] == '"') {
        size_t end = start + 1;
        while (end < json.size() && json[end] != '"') {
            if (json[end] == '\\')
                ++end;
            ++end;
        }
        return json.substr(start, end - start + 1);
    }
    size_t end = json.find_first_of(",}", start);
    return json.substr(start, end - start);
}

} // namespace e2e
