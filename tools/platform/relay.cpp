// The order push relay: a client registers its store and then only listens;
// the relay sends "ping" now and then and one event text per order event.

#include "tools/platform/relay.h"

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace tillbay::platform {

namespace {

constexpr std::string_view k_register = "register&storeidx=";
constexpr std::string_view k_devicetype = "&devicetype=";

// Parses a run of 1..9 digits at pos; returns the index after it, or npos.
size_t digits_at(std::string_view s, size_t pos, long long& value)
{
    size_t end = pos;
    value = 0;
    while (end < s.size() && s[end] >= '0' && s[end] <= '9' && end - pos < 9)
        value = value * 10 + (s[end++] - '0');
    return end == pos ? std::string_view::npos : end;
}

} // namespace

RegisterParse parse_registration(std::string_view buffer, std::string_view header, Registration& out)
{
    size_t common = std::min(buffer.size(), header.size());
    if (buffer.substr(0, common) != header.substr(0, common))
        return RegisterParse::Invalid;
    if (buffer.size() <= header.size())
        return RegisterParse::NeedMore;
    std::string_view rest = buffer.substr(header.size());
    size_t head = std::min(rest.size(), k_register.size());
    if (rest.substr(0, head) != k_register.substr(0, head))
        return RegisterParse::Invalid;
    if (rest.size() <= k_register.size())
        return RegisterParse::NeedMore;
    size_t pos = digits_at(rest, k_register.size(), out.storeidx);
    if (pos == std::string_view::npos)
        return RegisterParse::Invalid;
    if (pos == rest.size())
        return RegisterParse::NeedMore;
    std::string_view tail = rest.substr(pos);
    size_t dt = std::min(tail.size(), k_devicetype.size());
    if (tail.substr(0, dt) != k_devicetype.substr(0, dt))
        return RegisterParse::Invalid;
    if (tail.size() <= k_devicetype.size())
        return RegisterParse::NeedMore;
    size_t end = digits_at(tail, k_devicetype.size(), out.devicetype);
    if (end == std::string_view::npos)
        return RegisterParse::Invalid;
    // The client sends nothing after the registration; a trailing "pong"
    // or line end is tolerated, anything else is not a registration.
    return end == tail.size() ? RegisterParse::NeedMore : RegisterParse::Complete;
}

void serve_relay_connection(Platform& platform, Conn& conn)
{
    std::string const& header = platform.secrets().relay_header;
    std::string buffer;
    Registration reg;
    auto deadline = deadline_in(std::chrono::milliseconds(k_register_wait_ms));
    for (;;) {
        auto state = parse_registration(buffer, header, reg);
        if (state == RegisterParse::Invalid || buffer.size() > k_register_limit) {
            platform.log_request("relay", 0, 0, "", buffer.substr(0, 200));
            return;
        }
        if (state == RegisterParse::Complete)
            break;
        // The registration has no terminator: once its device type has
        // digits and the client has gone quiet for a moment, it is complete.
        bool digits_seen = buffer.size() > header.size() && buffer.find(k_devicetype) != std::string::npos
            && buffer.back() >= '0' && buffer.back() <= '9';
        auto wait_until = digits_seen ? std::min(deadline, deadline_in(std::chrono::milliseconds(300))) : deadline;
        auto result = conn.read_some(buffer, k_register_limit + 1 - buffer.size(), wait_until);
        if (result == Conn::ReadResult::Closed)
            return;
        if (result == Conn::ReadResult::Timeout) {
            if (digits_seen && Clock::now() < deadline)
                break;
            platform.log_request("relay", 0, 0, "", buffer.substr(0, 200));
            return;
        }
    }
    std::string registration = buffer.substr(header.size());
    while (!registration.empty() && (registration.back() < '0' || registration.back() > '9'))
        registration.pop_back();
    platform.log_request("relay", 0, 0, header, registration);

    bool pings = true;
    if (auto fault = platform.take_fault("relay", -1)) {
        switch (fault->kind) {
        case FaultKind::Close:
        case FaultKind::Refuse:
            return;
        case FaultKind::Garbage:
            conn.write_all("\xff\xfegarbage\r\n");
            break;
        case FaultKind::Silent:
            pings = false;
            break;
        case FaultKind::Late:
            std::this_thread::sleep_for(std::chrono::milliseconds(fault->delay_ms));
            break;
        case FaultKind::BadByte: // only API answers carry texts to break
            break;
        }
    }

    auto sub = std::make_shared<RelaySubscriber>();
    sub->storeidx = reg.storeidx;
    if (::pipe2(sub->wake_fd, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    platform.subscribe(sub);
    int interval = platform.options().ping_interval_ms;
    auto next_ping = deadline_in(std::chrono::milliseconds(interval));
    for (;;) {
        int wait = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(next_ping - Clock::now()).count());
        if (wait < 0)
            wait = 0;
        if (!pings)
            wait = 1000;
        bool readable = conn.wait_readable(0);
        if (!readable) {
            pollfd fds[2] = { { conn.fd(), POLLIN, 0 }, { sub->wake_fd[0], POLLIN, 0 } };
            ::poll(fds, 2, wait);
            readable = fds[0].revents != 0;
        }
        if (readable) {
            // The client only ever sends "pong"; its bytes are read and dropped.
            std::string incoming;
            if (conn.read_some(incoming, 4096, deadline_in(std::chrono::milliseconds(50))) == Conn::ReadResult::Closed)
                break;
        }
        char drain[64];
        while (::read(sub->wake_fd[0], drain, sizeof drain) > 0) { }
        std::deque<std::string> outgoing;
        {
            std::lock_guard lock(sub->mutex);
            outgoing.swap(sub->outbox);
        }
        bool failed = false;
        for (auto const& text : outgoing)
            failed = failed || !conn.write_all(text);
        if (pings && Clock::now() >= next_ping) {
            failed = failed || !conn.write_all("ping");
            next_ping = deadline_in(std::chrono::milliseconds(interval));
        }
        if (failed)
            break;
    }
    sub->gone = true;
    platform.unsubscribe(sub.get());
    ::close(sub->wake_fd[0]);
    ::close(sub->wake_fd[1]);
}

} // namespace tillbay::platform
