#include "os/linux/webkit_automation.h"

#include "foundation/log.h"
#include "os/process.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <glib.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tillbay::gtk {

namespace {

// A script for /eval is at most this long; the request head must fit in 16 kB.
constexpr size_t max_body = 8u * 1024 * 1024;
constexpr size_t max_head = 16 * 1024;
constexpr auto answer_wait = std::chrono::seconds(60);

struct Response {
    int status = 200;
    std::string type = "application/json";
    std::string body;
};

std::string json_string(std::string_view text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

bool write_all(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void send_response(int fd, Response const& response)
{
    char const* reason = response.status == 200 ? "OK" : response.status == 404 ? "Not Found" : "Error";
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + reason + "\r\nContent-Type: "
        + response.type + "\r\nContent-Length: " + std::to_string(response.body.size())
        + "\r\nConnection: close\r\n\r\n";
    if (write_all(fd, head))
        write_all(fd, response.body);
}

} // namespace

struct AutomationServer::Shared {
    unsigned port = 0;
    std::mutex lock;
    AutomationTarget* target = nullptr; // cleared when the server stops
    std::atomic<bool> stopping { false };
};

namespace {

using SharedPtr = std::shared_ptr<AutomationServer::Shared>;

struct MainThreadCall {
    SharedPtr shared;
    std::string method;
    std::string path;
    std::string body;
    std::shared_ptr<std::promise<Response>> answer;
};

gboolean run_on_main_thread(gpointer data)
{
    std::unique_ptr<MainThreadCall> call(static_cast<MainThreadCall*>(data));
    auto answer = call->answer;
    AutomationTarget* target = nullptr;
    {
        std::lock_guard guard(call->shared->lock);
        target = call->shared->target;
    }
    if (!target) {
        answer->set_value(Response { 503, "application/json", "{\"ok\":false,\"error\":\"stopping\"}" });
        return G_SOURCE_REMOVE;
    }
    bool ran = log::guarded("시험용 문 요청 실패", [&] {
        bool customer = call->path.starts_with("/customer/");
        std::string path = customer ? call->path.substr(9) : call->path;
        if (call->method == "POST" && path == "/eval") {
            auto done = [answer](bool ok, std::string result) {
                Response response;
                response.body = ok ? "{\"ok\":true,\"value\":" + result + "}"
                                   : "{\"ok\":false,\"error\":" + json_string(result) + "}";
                answer->set_value(std::move(response));
            };
            if (customer)
                target->evaluate_customer(call->body, std::move(done));
            else
                target->evaluate(call->body, std::move(done));
        } else if (call->method == "GET" && call->path == "/doc") {
            answer->set_value(Response { 200, "application/json", target->document_json() });
        } else if (call->method == "GET" && path == "/snapshot") {
            auto done = [answer](std::string png) {
                if (png.empty())
                    answer->set_value(Response { 500, "application/json", "{\"ok\":false,\"error\":\"snapshot\"}" });
                else
                    answer->set_value(Response { 200, "image/png", std::move(png) });
            };
            if (customer)
                target->snapshot_customer(std::move(done));
            else
                target->snapshot(std::move(done));
        } else {
            answer->set_value(Response { 404, "application/json", "{\"ok\":false,\"error\":\"unknown endpoint\"}" });
        }
    });
    if (!ran)
        answer->set_value(Response { 500, "application/json", "{\"ok\":false,\"error\":\"internal error\"}" });
    return G_SOURCE_REMOVE;
}

// A header's value without the blanks around it.
std::string header_value(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return std::string(text);
}

void serve_connection(int fd, SharedPtr shared)
{
    std::string data;
    size_t head_end = std::string::npos;
    char buffer[65536];
    while (head_end == std::string::npos) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, 10000) <= 0)
            break;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        data.append(buffer, static_cast<size_t>(n));
        head_end = data.find("\r\n\r\n");
        if (head_end == std::string::npos && data.size() > max_head)
            break;
    }
    if (head_end == std::string::npos) {
        send_response(fd, Response { 400, "application/json", "{\"ok\":false,\"error\":\"bad request\"}" });
        ::close(fd);
        return;
    }
    std::string head = data.substr(0, head_end);
    std::string body = data.substr(head_end + 4);
    size_t sp1 = head.find(' ');
    size_t sp2 = sp1 == std::string::npos ? std::string::npos : head.find(' ', sp1 + 1);
    std::string method = sp1 == std::string::npos ? "" : head.substr(0, sp1);
    std::string path = sp2 == std::string::npos ? "" : head.substr(sp1 + 1, sp2 - sp1 - 1);
    size_t content_length = 0;
    int hosts = 0;
    std::string host;
    bool has_origin = false;
    for (size_t pos = head.find("\r\n"); pos != std::string::npos; pos = head.find("\r\n", pos + 2)) {
        size_t end = head.find("\r\n", pos + 2);
        std::string line = head.substr(pos + 2, end == std::string::npos ? std::string::npos : end - pos - 2);
        if (line.size() > 15 && g_ascii_strncasecmp(line.c_str(), "content-length:", 15) == 0)
            content_length = std::strtoull(line.c_str() + 15, nullptr, 10);
        if (line.size() >= 5 && g_ascii_strncasecmp(line.c_str(), "host:", 5) == 0) {
            ++hosts;
            host = header_value(line.substr(5));
        }
        if (line.size() >= 7 && g_ascii_strncasecmp(line.c_str(), "origin:", 7) == 0)
            has_origin = true;
    }
    // A web page the user happens to open can send requests to a loopback
    // port too: the browser then adds an Origin header, and a page that
    // reaches the port through a name of its own (DNS rebinding) carries
    // that name as the Host. Only a client that addresses this endpoint by
    // its own address and sends no Origin is served.
    if (has_origin || hosts != 1 || host != "127.0.0.1:" + std::to_string(shared->port)) {
        send_response(fd, Response { 403, "application/json", "{\"ok\":false,\"error\":\"forbidden\"}" });
        ::close(fd);
        return;
    }
    if (content_length > max_body) {
        send_response(fd, Response { 400, "application/json", "{\"ok\":false,\"error\":\"body too large\"}" });
        ::close(fd);
        return;
    }
    while (body.size() < content_length) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, 10000) <= 0)
            break;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        body.append(buffer, static_cast<size_t>(n));
    }
    body.resize(std::min(body.size(), content_length));

    auto answer = std::make_shared<std::promise<Response>>();
    auto future = answer->get_future();
    g_idle_add(run_on_main_thread, new MainThreadCall { shared, method, path, std::move(body), answer });
    if (future.wait_for(answer_wait) == std::future_status::ready)
        send_response(fd, future.get());
    else
        send_response(fd, Response { 504, "application/json", "{\"ok\":false,\"error\":\"timeout\"}" });
    ::close(fd);
}

} // namespace

std::unique_ptr<AutomationServer> AutomationServer::start(unsigned long port, AutomationTarget& target)
{
    if (port < 1 || port > 65535)
        return nullptr;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return nullptr;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);

    std::unique_ptr<AutomationServer> server(new AutomationServer);
    server->m_listen_fd = fd;
    server->m_port = ntohs(address.sin_port);
    server->m_shared = std::make_shared<Shared>();
    server->m_shared->port = server->m_port;
    server->m_shared->target = &target;
    SharedPtr shared = server->m_shared;
    server->m_thread = os::process::start_thread([fd, shared] {
        while (!shared->stopping.load()) {
            int client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                if (errno == EINTR)
                    continue;
                if (shared->stopping.load())
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            os::process::start_thread([client, shared] { serve_connection(client, shared); }).detach();
        }
    });
    return server;
}

AutomationServer::~AutomationServer()
{
    if (m_shared) {
        m_shared->stopping.store(true);
        std::lock_guard guard(m_shared->lock);
        m_shared->target = nullptr;
    }
    if (m_listen_fd >= 0)
        ::shutdown(m_listen_fd, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
    if (m_listen_fd >= 0)
        ::close(m_listen_fd);
}

} // namespace tillbay::gtk
