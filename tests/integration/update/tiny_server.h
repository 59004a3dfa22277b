#pragma once

// A small loopback HTTP/1.0 server for the update tests: fixed answers by
// path, and a gate that holds every answer until the test opens it, so a
// download can be caught in the middle.

#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tillbay::test {

class TinyServer {
public:
    TinyServer()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listener, 16);
        socklen_t len = sizeof addr;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~TinyServer()
    {
        m_stopping = true;
        open_gate();
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
        m_thread.join();
        for (auto& t : m_workers)
            t.join();
    }

    int port() const { return m_port; }
    std::string web_host() const { return "http://127.0.0.1:" + std::to_string(m_port); }

    void set(std::string const& path, std::string body, int status = 200)
    {
        std::lock_guard guard(m_lock);
        m_answers[path] = { status, std::move(body) };
    }
    void close_gate()
    {
        std::lock_guard guard(m_lock);
        m_gate_open = false;
    }
    void open_gate()
    {
        std::lock_guard guard(m_lock);
        m_gate_open = true;
        m_gate.notify_all();
    }
    int waiting() const { return m_waiting.load(); }
    std::vector<std::string> requested()
    {
        std::lock_guard guard(m_lock);
        return m_requested;
    }

private:
    void run()
    {
        while (!m_stopping) {
            int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                break;
            m_workers.emplace_back([this, fd] { serve(fd); });
        }
    }
    void serve(int fd)
    {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            request.append(buffer, static_cast<size_t>(n));
        }
        auto first_space = request.find(' ');
        auto second_space = request.find(' ', first_space + 1);
        std::string path = first_space == std::string::npos ? "" : request.substr(first_space + 1, second_space - first_space - 1);
        std::pair<int, std::string> answer { 404, "not found" };
        {
            std::unique_lock guard(m_lock);
            m_requested.push_back(path);
            ++m_waiting;
            m_gate.wait(guard, [this] { return m_gate_open; });
            --m_waiting;
            if (auto it = m_answers.find(path); it != m_answers.end())
                answer = it->second;
        }
        std::string head = "HTTP/1.0 " + std::to_string(answer.first) + " X\r\nContent-Length: "
            + std::to_string(answer.second.size()) + "\r\nConnection: close\r\n\r\n";
        std::string all = head + answer.second;
        size_t done = 0;
        while (done < all.size()) {
            ssize_t n = ::write(fd, all.data() + done, all.size() - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        ::close(fd);
    }

    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping { false };
    std::atomic<int> m_waiting { 0 };
    std::thread m_thread;
    std::vector<std::thread> m_workers;
    std::mutex m_lock;
    std::condition_variable m_gate;
    bool m_gate_open = true;
    std::map<std::string, std::pair<int, std::string>> m_answers;
    std::vector<std::string> m_requested;
};

} // namespace tillbay::test
