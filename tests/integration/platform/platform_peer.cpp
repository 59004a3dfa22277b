#include "platform_peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform_test {

namespace {

std::string binary()
{
    char const* build = std::getenv("TB_BUILD_DIR");
    return std::string(build ? build : ".") + "/tools/platform/tillbay-platform";
}

std::string temp_file(std::string const& content)
{
    char name[] = "/tmp/tbplatXXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) {
        send_all(fd, content); // works on files too via write fallback below
        close(fd);
    }
    return name;
}

} // namespace

std::string run_shell(std::string const& command, std::string const& input)
{
    std::string full = command;
    std::string in_file;
    if (!input.empty()) {
        in_file = temp_file(input);
        full += " < " + in_file;
    }
    FILE* pipe = popen(full.c_str(), "r");
    std::string out;
    if (pipe) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        pclose(pipe);
    }
    if (!in_file.empty())
        unlink(in_file.c_str());
    return out;
}

bool send_all(int fd, std::string const& data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::write(fd, data.data() + sent, data.size() - sent);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

int connect_loopback(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    signal(SIGPIPE, SIG_IGN);
    return fd;
}

std::string read_until_quiet(int fd, int ms, bool* closed)
{
    std::string out;
    if (closed)
        *closed = false;
    for (;;) {
        pollfd p { fd, POLLIN, 0 };
        if (poll(&p, 1, ms) <= 0)
            return out;
        char buffer[65536];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            if (closed)
                *closed = true;
            return out;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
}

std::string read_until(int fd, std::string const& needle, int total_ms)
{
    std::string out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(total_ms);
    while (out.find(needle) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd p { fd, POLLIN, 0 };
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

std::string http_request(int port, std::string const& raw, int ms)
{
    int fd = connect_loopback(port);
    if (fd < 0)
        return {};
    send_all(fd, raw);
    std::string out = read_until_quiet(fd, ms);
    close(fd);
    return out;
}

std::string sha256_hex(std::string const& data)
{
    unsigned char digest[32];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
    static char const hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::string aes_encrypt_b64(std::string const& plain, std::string const& key, std::string const& iv)
{
    std::string out = run_shell("openssl enc -aes-256-cbc -K " + key + " -iv " + iv + " -base64 -A", plain);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::string aes_decrypt_b64(std::string const& b64, std::string const& key, std::string const& iv)
{
    return run_shell("openssl enc -d -aes-256-cbc -K " + key + " -iv " + iv + " -base64 -A 2>/dev/null", b64);
}

PlatformProcess::PlatformProcess(std::vector<std::string> extra, std::string data_dir)
{
    if (data_dir.empty()) {
        char name[] = "/tmp/tbplatdataXXXXXX";
        data_dir = mkdtemp(name);
        m_owns_dir = true;
    }
    m_data_dir = data_dir;
    std::vector<std::string> args { binary(), "serve", "--data", m_data_dir, "--api-port", "0", "--relay-port", "0", "--web-port",
        "0", "--control-port", "0" };
    for (auto& e : extra) {
        if (e == "--plain")
            m_plain = true;
        args.push_back(e);
    }
    int out[2];
    if (pipe(out) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string text = read_until(out[0], "ready\n", 15000);
    close(out[0]);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string name, address, mode;
        words >> name >> address >> mode;
        if (name == "ready")
            m_ready = true;
        else if (name == "fingerprint")
            m_fingerprint = address;
        else if (auto colon = address.rfind(':'); colon != std::string::npos)
            m_listeners[name] = { std::atoi(address.c_str() + colon + 1), mode };
    }
    if (m_ready)
        m_info = control("GET", "/control/info");
}

PlatformProcess::~PlatformProcess()
{
    stop();
    if (m_owns_dir) {
        std::error_code ec;
        std::filesystem::remove_all(m_data_dir, ec);
    }
}

void PlatformProcess::stop()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

void PlatformProcess::kill_hard()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

Json PlatformProcess::control(std::string const& method, std::string const& path, Json const& body, int* status)
{
    std::string payload = body.is_null() ? "" : body.dump();
    std::string raw = method + " " + path + " HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/json\r\nContent-Length: "
        + std::to_string(payload.size()) + "\r\nConnection: close\r\n\r\n" + payload;
    std::string answer = http_request(m_listeners["control"].port, raw, 10000);
    if (status)
        *status = answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
    size_t body_start = answer.find("\r\n\r\n");
    if (body_start == std::string::npos)
        return nullptr;
    return Json::parse(answer.substr(body_start + 4), nullptr, false);
}

std::string PlatformProcess::api_exchange(std::string const& envelope)
{
    int port = m_listeners["api"].port;
    if (m_plain) {
        int fd = connect_loopback(port);
        send_all(fd, envelope);
        std::string out = read_until_quiet(fd, 10000);
        close(fd);
        return out;
    }
    return run_shell("timeout 20 openssl s_client -connect 127.0.0.1:" + std::to_string(port) + " -tls1_2 -quiet -ign_eof 2>/dev/null",
        envelope);
}

Json PlatformProcess::store_call(std::string const& command, long long useridx)
{
    Json envelope = { { "header", m_info["serverHeader"] }, { "version", "1.0" }, { "grade", 5 }, { "useridx", useridx },
        { "data", command } };
    Json answer = Json::parse(api_exchange(envelope.dump()), nullptr, false);
    if (answer.is_object() && answer["resultData"].is_string() && !answer["resultData"].get<std::string>().empty())
        answer["data"] = Json::parse(answer["resultData"].get<std::string>(), nullptr, false);
    return answer;
}

std::string PlatformProcess::sign_in_staff()
{
    Json answer = store_call("cmd=100&id=tillbay01&pw=pos1234!", 0);
    return answer.contains("data") && answer["data"].is_object() ? answer["data"].value("token", "") : "";
}

Json PlatformProcess::owner_call(std::string const& command, int grade, long long useridx, std::string const& key, std::string const& iv)
{
    Json envelope = { { "header", m_info["serverHeader"] }, { "version", "1.0" }, { "grade", grade }, { "useridx", useridx },
        { "data", aes_encrypt_b64(command, key, iv) } };
    Json answer = Json::parse(api_exchange(envelope.dump() + "\n"), nullptr, false);
    if (answer.is_object() && answer["resultData"].is_string() && !answer["resultData"].get<std::string>().empty())
        answer["plain"] = aes_decrypt_b64(answer["resultData"], key, iv);
    return answer;
}

} // namespace platform_test
