#include "tests/integration/discovery/driver_session.h"

#include "tests/integration/discovery/lan_fixture.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tillbay::test {

DriverSession::DriverSession(std::string const& host_namespace, std::vector<std::string> const& env,
    std::vector<std::string> const& args)
{
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        return;
    std::vector<std::string> argv { "ip", "netns", "exec", host_namespace,
        build_path("tests/integration/discovery/tb-discovery-driver") };
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
        environment.emplace_back(*e);
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char*> a, e;
    for (auto& s : argv)
        a.push_back(s.data());
    a.push_back(nullptr);
    for (auto& s : environment)
        e.push_back(s.data());
    e.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (posix_spawnp(&m_pid, "ip", &actions, nullptr, a.data(), e.data()) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    m_in = in[1];
    m_out = out[0];
}

DriverSession::~DriverSession()
{
    if (m_in >= 0)
        ::close(m_in); // end of input: the driver cancels and waits for its workers
    if (m_pid > 0) {
        for (int i = 0; i < 100; ++i) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            ::usleep(50000);
        }
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    if (m_out >= 0)
        ::close(m_out);
}

void DriverSession::send(std::string const& line)
{
    std::string text = line + "\n";
    if (::write(m_in, text.data(), text.size()) < 0)
        return;
}

bool DriverSession::read_line(std::string& line, std::chrono::steady_clock::time_point deadline)
{
    while (true) {
        size_t newline = m_buffer.find('\n');
        if (newline != std::string::npos) {
            line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            m_lines.push_back(line);
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p { m_out, POLLIN, 0 };
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char chunk[65536];
        ssize_t got = ::read(m_out, chunk, sizeof chunk);
        if (got <= 0)
            return false;
        m_buffer.append(chunk, static_cast<size_t>(got));
    }
}

std::string DriverSession::wait_for(std::function<bool(std::string const&)> const& wanted,
    std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string line;
    while (read_line(line, deadline))
        if (wanted(line))
            return line;
    return {};
}

std::vector<Item> Answer::at(std::string const& ip) const
{
    std::vector<Item> found;
    for (auto const& item : items)
        if (item.ip == ip)
            found.push_back(item);
    return found;
}

Answer parse_answer(std::string const& line)
{
    Answer answer;
    auto flag = [&](std::string const& key) { return line.find("," + key + ":true") != std::string::npos; };
    auto number = [&](std::string const& key) {
        size_t at = line.find("," + key + ":");
        return at == std::string::npos ? -1L : std::atol(line.c_str() + at + key.size() + 2);
    };
    answer.done = flag("done");
    answer.cancelled = flag("cancelled");
    answer.limited = flag("limited");
    answer.checked = number("checked");
    answer.total = number("total");
    std::smatch match;
    if (std::regex_search(line, match, std::regex(R"re(,error:"([^"]*)")re")))
        answer.error = match[1];
    std::regex item(R"re(\{ip:"([^"]*)",port:(\d+),name:"((?:[^"\\]|\\.)*)",evidence:"([^"]*)",selectable:(true|false)\})re");
    for (std::sregex_iterator it(line.begin(), line.end(), item), end; it != end; ++it)
        answer.items.push_back({ (*it)[1], std::stoi((*it)[2]), (*it)[3], (*it)[4], (*it)[5] == "true" });
    return answer;
}

} // namespace tillbay::test
