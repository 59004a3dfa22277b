#include "door/door_server.h"

#include "foundation/log.h"
#include "foundation/settings.h"

#include <cerrno>
#include <exception>

namespace tillbay::door {

bool valid_port(long long port) { return port >= 1024 && port <= 65535; }

bool configured_on() { return settings::read_int("TABLET", "on", 0) != 0; }

int configured_port()
{
    int port = settings::read_int("TABLET", "port", default_port);
    return valid_port(port) ? port : default_port;
}

Door::Door(DoorHooks hooks, RandomSource random, Config config)
    : m_random(std::move(random))
    , m_config(std::move(config))
{
    hooks.token = [this] { return cached_token(); };
    m_routes = std::make_unique<DoorRoutes>(std::move(hooks));
}

Door::~Door() { close(); }

std::string Door::cached_token() const
{
    std::lock_guard guard(m_token_lock);
    return m_token;
}

std::string Door::token()
{
    std::lock_guard guard(m_token_lock);
    if (!m_token.empty())
        return m_token;
    std::string stored = settings::read_text("TABLET", "token", max_stored_token + 1);
    if (usable_stored_token(stored)) {
        m_token = stored;
        return m_token;
    }
    auto made = make_token(m_random);
    if (!made) {
        log::bridge("DOOR", "열쇠를 만들 난수를 얻지 못했다 — 문을 열지 않는다");
        return {};
    }
    m_token = *made;
    // A token that cannot be written back is still used for this run.
    if (!settings::write_profile("TABLET", "token", m_token))
        log::bridge("DOOR", "열쇠를 설정 파일에 쓰지 못했다 — 이번 실행에만 쓴다");
    return m_token;
}

Result<std::string> Door::renew_token()
{
    auto made = make_token(m_random);
    if (!made)
        return Error::with_message("새 열쇠를 만들지 못했습니다 — 이전 열쇠를 그대로 씁니다", "random source failed");
    {
        std::lock_guard guard(m_token_lock);
        m_token = *made;
    }
    if (!settings::write_profile("TABLET", "token", *made))
        log::bridge("DOOR", "새 열쇠를 설정 파일에 쓰지 못했다 — 이번 실행에만 쓴다");
    log::bridge("DOOR", "열쇠를 새로 만들었다");
    return *made;
}

Status Door::open(int port)
{
    std::lock_guard guard(m_lock);
    if (m_server)
        return {};
    // No token, no door: a door without one would serve nobody, and one made
    // from anything but the random source could be guessed.
    if (token().empty())
        return Error::with_message("태블릿 열쇠를 만들지 못해 문을 열지 않았습니다 — 잠시 뒤 다시 켜 주세요",
            "no door token");
    auto server = os::net::StreamServer::start(m_config.bind_address, port, listen_backlog, m_config.limits, *this);
    if (!server.ok()) {
        int code = server.error().code;
        log::bridge("DOOR", "문을 못 열었다 — 포트 " + std::to_string(port) + " (오류 " + std::to_string(code) + ")");
        std::string message = code == EADDRINUSE
            ? "태블릿 문을 못 열었습니다 — 포트 " + std::to_string(port) + " 이 이미 쓰이고 있습니다"
            : "태블릿 문을 못 열었습니다 — 포트 " + std::to_string(port) + " (오류 " + std::to_string(code) + ")";
        return Error::with_message(message, server.error().detail, code);
    }
    m_server = server.release_value();
    m_port.store(m_server->port());
    m_running.store(true);
    log::bridge("DOOR", "태블릿 문 열림 — 포트 " + std::to_string(m_server->port()));
    return {};
}

void Door::close()
{
    std::lock_guard guard(m_lock);
    if (!m_server)
        return;
    m_server->stop();
    m_server.reset();
    m_running.store(false);
    m_port.store(0);
    log::bridge("DOOR", "태블릿 문 닫음");
}

os::net::ServerStats Door::stats() const
{
    std::lock_guard guard(m_lock);
    return m_server ? m_server->stats() : os::net::ServerStats {};
}

std::optional<std::string> Door::on_input(os::net::Peer const& peer, std::string_view received, os::net::Input input)
{
    return m_routes->answer(peer, received, input != os::net::Input::More);
}

std::string Door::busy_answer() { return DoorRoutes::busy_answer(); }

} // namespace tillbay::door
