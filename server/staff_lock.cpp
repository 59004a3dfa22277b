#include "server/staff_lock.h"

#include "base/ascii.h"
#include "foundation/json_text.h"
#include "foundation/settings.h"
#include "os/crypto.h"
#include "session/session.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <utility>

namespace tillbay::server {

namespace {

constexpr char const* section = "LOCK";
// The stored hash is read with room for one byte more, so a longer value is
// seen as not a PIN rather than cut to look like one.
constexpr size_t pin_read_size = pin_hash_hex_length + 2;
constexpr size_t salt_read_size = salt_hex_length + 2;
// A current owner password of this many bytes or more is refused unsent.
constexpr size_t max_current_password = 128;
constexpr char const* owner_pw_symbols = "~!@#$^*()_-[]{};:|,./?";
constexpr char const* forbidden_in_passwords = "&=<>%+\"'\\";

bool is_digits(std::string_view text)
{
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool has_char(char const* set, char c)
{
    for (char const* p = set; *p; ++p) {
        if (*p == c)
            return true;
    }
    return false;
}

bool printable_allowed(char c)
{
    auto byte = static_cast<unsigned char>(c);
    return byte >= 33 && byte <= 126 && !has_char(forbidden_in_passwords, c);
}

bool has_amp_or_equals(std::string_view text)
{
    return text.find('&') != std::string_view::npos || text.find('=') != std::string_view::npos;
}

} // namespace

std::string_view mode_text(int mode)
{
    switch (mode) {
    case 1:
        return "현금서랍: 직원은 PIN";
    case 2:
        return "현금서랍: 사장님만";
    default:
        return "현금서랍: 누구나 엽니다";
    }
}

std::string_view policy_text(int policy)
{
    switch (policy) {
    case 0:
        return "결제 취소: 사장님만";
    case 1:
        return "결제 취소: 직원은 PIN";
    case 2:
        return "결제 취소: 당일 것만 직원도";
    case 3:
        return "결제 취소: 직원도 허용";
    default:
        return {};
    }
}

std::string_view pin_problem(std::string_view pin)
{
    if (!is_digits(pin))
        return lock_text::pin_digits;
    if (pin.size() < 4 || pin.size() > 6)
        return lock_text::pin_length;
    return {};
}

std::string pin_hash(std::string_view salt, std::string_view pin)
{
    SecretString text;
    text.append(salt);
    text.append(":");
    text.append(pin);
    return os::sha256_hex(text.str());
}

bool equal_in_constant_time(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    unsigned char differ = 0;
    for (size_t i = 0; i < a.size(); ++i)
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

LockHooks LockHooks::standard()
{
    LockHooks hooks;
    hooks.store_call = [](std::string_view command) { return api::store_call(command); };
    hooks.owner_call = [](std::string_view command, int grade) { return api::owner_call(command, grade); };
    hooks.now_ms = [] {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
    };
    return hooks;
}

StaffLock::StaffLock(LockHooks hooks)
    : m_hooks(std::move(hooks))
{
}

int StaffLock::local_mode()
{
    int mode = settings::read_int(section, "mode", 0);
    return mode >= 0 && mode <= 2 ? mode : 0;
}

bool StaffLock::local_pin_set() { return settings::read_text(section, "pin", pin_read_size).size() == pin_hash_hex_length; }

bool StaffLock::need_lock(std::string_view action, std::string_view detail, bridge::Page& page)
{
    int mode = local_mode();
    if (mode == 0 || session::owner_signed_in())
        return true;
    if (mode == 1) {
        std::lock_guard guard(m_lock);
        if (m_unlock_until != 0 && m_hooks.now_ms() < m_unlock_until)
            return true;
    }
    page.callback("needLock", json::quote(action) + "," + std::to_string(mode) + "," + json::quote(detail));
    return false;
}

bool StaffLock::store_local_pin(std::string_view pin)
{
    std::array<uint8_t, salt_hex_length / 2> random {};
    if (!os::random_bytes(random))
        return false;
    std::string salt = os::sha256_hex(std::string_view(reinterpret_cast<char const*>(random.data()), random.size()))
                           .substr(0, salt_hex_length);
    std::string hash = pin_hash(salt, pin);
    std::array<std::pair<std::string_view, std::string_view>, 2> const values {
        std::pair<std::string_view, std::string_view> { "salt", salt },
        std::pair<std::string_view, std::string_view> { "pin", hash },
    };
    return settings::write_line_preserving(section, values);
}

bool StaffLock::read_policy()
{
    int policy = -1;
    bool server_pin = false;
    bool read = false;
    if (session::staff_signed_in()) {
        auto answer = m_hooks.store_call("cmd=137&storeidx=" + std::to_string(session::storeidx()));
        if (answer.ok() && answer.value().accepted()) {
            std::string const& data = answer.value().resultData;
            policy = json::int_field(data, "policy", -1);
            if (policy < 0 || policy > 3)
                policy = -1;
            server_pin = json::int_field(data, "haspin", 0) != 0;
            read = policy >= 0;
        }
    }
    std::lock_guard guard(m_lock);
    m_policy = policy;
    m_server_pin = server_pin;
    return read;
}

void StaffLock::getlock(bridge::Page& page)
{
    read_policy();
    int policy;
    bool server_pin;
    {
        std::lock_guard guard(m_lock);
        policy = m_policy;
        server_pin = m_server_pin;
    }
    char text[160];
    std::snprintf(text, sizeof text, "{\"mode\":%d,\"haspin\":%d,\"owner\":%d,\"policy\":%d,\"spin\":%d}", local_mode(),
        local_pin_set() ? 1 : 0, session::owner_signed_in() ? 1 : 0, policy, server_pin ? 1 : 0);
    page.callback("setLock", text);
}

void StaffLock::setlock(std::string_view mode_arg, std::string_view pin, bridge::Page& page)
{
    if (!session::owner_signed_in()) {
        page.status(lock_text::owner_needed_lock);
        getlock(page);
        return;
    }
    int mode = ascii::leading_int(mode_arg);
    if (mode < 0 || mode > 2)
        mode = 0;
    if (!pin.empty()) {
        if (auto problem = pin_problem(pin); !problem.empty()) {
            page.status(problem);
            getlock(page);
            return;
        }
        if (!store_local_pin(pin)) {
            page.status(lock_text::not_saved);
            getlock(page);
            return;
        }
    }
    if (mode == 1 && !local_pin_set()) {
        page.status(lock_text::pin_first);
        getlock(page);
        return;
    }
    bool saved = settings::write_line_preserving(section, "mode", std::to_string(mode));
    page.status(saved ? mode_text(mode) : std::string_view(lock_text::not_saved));
    {
        std::lock_guard guard(m_lock);
        m_unlock_until = 0;
    }
    getlock(page);
}

void StaffLock::send_policy(int policy, std::string_view pin, std::string_view success, bridge::Page& page)
{
    if (policy < 0 || policy > 3)
        policy = 0;
    if (!pin.empty()) {
        if (auto problem = pin_problem(pin); !problem.empty()) {
            page.status(problem);
            getlock(page);
            return;
        }
    }
    bool server_pin;
    {
        std::lock_guard guard(m_lock);
        server_pin = m_server_pin;
    }
    if (policy == 1 && pin.empty() && !server_pin) {
        page.status(lock_text::pin_first);
        getlock(page);
        return;
    }
    SecretString command("cmd=136&storeidx=" + std::to_string(session::storeidx()) + "&policy=" + std::to_string(policy));
    if (!pin.empty()) {
        command.append("&pin=");
        command.append(pin);
    }
    auto answer = m_hooks.store_call(command.str());
    if (!answer.ok()) {
        page.status(lock_text::unreachable);
    } else if (!answer.value().accepted()) {
        page.status(answer.value().refusal(lock_text::server_not_saved));
    } else {
        if (!pin.empty() && !store_local_pin(pin))
            page.status(lock_text::not_saved);
        else
            page.status(success);
    }
    getlock(page);
}

void StaffLock::setpin(std::string_view pin, bridge::Page& page)
{
    if (!session::owner_signed_in()) {
        page.status(lock_text::owner_needed);
        getlock(page);
        return;
    }
    // The command also carries the cancellation policy: sending a guess
    // would change the store's rule behind the owner's back.
    if (!read_policy()) {
        page.status(lock_text::policy_unknown);
        getlock(page);
        return;
    }
    int policy;
    {
        std::lock_guard guard(m_lock);
        policy = m_policy;
    }
    send_policy(policy, pin, lock_text::pin_set, page);
}

void StaffLock::setcancelpolicy(std::string_view policy_arg, std::string_view pin, bridge::Page& page)
{
    if (!session::owner_signed_in()) {
        page.status(lock_text::owner_needed);
        getlock(page);
        return;
    }
    int policy = ascii::leading_int(policy_arg);
    if (policy < 0 || policy > 3)
        policy = 0;
    send_policy(policy, pin, policy_text(policy), page);
}

void StaffLock::checkpin(std::string_view pin, std::string_view action, std::string_view detail, bridge::Page& page)
{
    uint64_t now = m_hooks.now_ms();
    {
        std::lock_guard guard(m_lock);
        if (m_failed_checks >= wrong_attempts_before_wait && now - m_last_failed_check < wrong_attempt_wait_ms) {
            page.status(lock_text::wait);
            page.callback("lockResult", "0");
            return;
        }
    }
    bool match = false;
    std::string stored = settings::read_text(section, "pin", pin_read_size);
    if (stored.size() == pin_hash_hex_length) {
        std::string salt = settings::read_text(section, "salt", salt_read_size);
        match = equal_in_constant_time(pin_hash(salt, pin), ascii::lowered(stored));
    }
    std::lock_guard guard(m_lock);
    if (match) {
        m_failed_checks = 0;
        m_unlock_until = now + unlock_window_ms;
        page.callback("lockResult", "1," + json::quote(action) + "," + json::quote(detail));
        return;
    }
    ++m_failed_checks;
    m_last_failed_check = now;
    page.status(lock_text::wrong_pin);
    page.callback("lockResult", "0");
}

void StaffLock::setstorepw(std::string_view owner_password, std::string_view new_password, bridge::Page& page)
{
    auto refuse = [&](std::string_view text) {
        page.status(text);
        page.callback("storePwDone", "0");
        getlock(page);
    };
    if (!session::owner_signed_in())
        return refuse(lock_text::owner_needed);
    if (owner_password.empty())
        return refuse("사장님 비밀번호를 입력하세요");
    if (new_password.size() < 4 || new_password.size() > 20)
        return refuse("새 비밀번호는 4~20자");
    for (char c : new_password) {
        if (!printable_allowed(c))
            return refuse("새 비밀번호는 영문·숫자·기호만 (띄어쓰기와 & = < > % + 따옴표는 안 됩니다)");
    }
    if (has_amp_or_equals(owner_password))
        return refuse("사장님 비밀번호에 & 나 = 가 있으면 여기서는 보낼 수 없습니다");

    SecretString command("cmd=7&storeidx=" + std::to_string(session::owner().storeidx) + "&oldpassword=");
    command.append(owner_password);
    command.append("&newpassword=");
    command.append(new_password);
    auto answer = m_hooks.owner_call(command.str(), api::owner_grade);
    command.clear();
    bool done = false;
    if (!answer.ok()) {
        page.status(answer.error().message.empty() ? "서버에 연결하지 못했습니다" : answer.error().message);
    } else if (!answer.value().accepted()) {
        std::string text = answer.value().payload_text();
        page.status(text.empty() ? "비밀번호를 바꾸지 못했습니다" : text);
    } else {
        done = true;
        page.status("매장 비밀번호를 바꿨습니다. 다음 직원 로그인부터 새 비밀번호를 씁니다");
    }
    page.callback("storePwDone", done ? "1" : "0");
    getlock(page);
}

void StaffLock::setownerpw(bridge::Command const& command, bridge::Page& page)
{
    auto refuse = [&](std::string_view text) {
        page.status(text);
        page.callback("ownerPwDone", "0");
        getlock(page);
    };
    if (!session::owner_signed_in())
        return refuse(lock_text::owner_needed);
    if (command.arg_count() > 2)
        return refuse("비밀번호에 </> 는 쓸 수 없습니다");
    uint64_t now = m_hooks.now_ms();
    bool waiting;
    {
        std::lock_guard guard(m_lock);
        waiting = m_failed_owner_changes >= wrong_attempts_before_wait
            && now - m_last_failed_owner_change < wrong_attempt_wait_ms;
    }
    if (waiting)
        return refuse("지금 비밀번호가 여러 번 틀렸습니다. 30초 뒤에 다시 하십시오");
    std::string_view current = command.arg(1);
    std::string_view next = command.arg(2);
    if (current.empty())
        return refuse("지금 사장님 비밀번호를 입력하세요");
    if (current.size() >= max_current_password)
        return refuse("지금 사장님 비밀번호가 너무 깁니다");
    if (next.size() < 8 || next.size() > 30)
        return refuse("새 비밀번호는 8~30자");
    bool letter = false, digit = false, symbol = false;
    for (char c : next) {
        bool is_letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        bool is_digit = c >= '0' && c <= '9';
        bool is_symbol = has_char(owner_pw_symbols, c);
        if (!printable_allowed(c) || !(is_letter || is_digit || is_symbol))
            return refuse("새 비밀번호는 영문·숫자·기호만 (띄어쓰기·한글과 & = < > % + 따옴표·역슬래시는 안 됩니다)");
        letter |= is_letter;
        digit |= is_digit;
        symbol |= is_symbol;
    }
    if (!letter || !digit || !symbol)
        return refuse("새 비밀번호에 영문·숫자·특수기호를 하나씩 이상 넣으세요");
    if (next == current)
        return refuse("지금 비밀번호와 같습니다. 다른 비밀번호를 정해 주세요");
    if (has_amp_or_equals(current))
        return refuse("사장님 비밀번호에 & 나 = 가 있으면 여기서는 보낼 수 없습니다");

    SecretString text("cmd=6&oldpw=");
    text.append(current);
    text.append("&newpw=");
    text.append(next);
    auto answer = m_hooks.owner_call(text.str(), api::owner_password_grade);
    text.clear();
    bool done = false;
    if (!answer.ok()) {
        page.status(answer.error().message.empty() ? "서버에 연결하지 못했습니다" : answer.error().message);
    } else if (!answer.value().accepted()) {
        if (answer.value().resultCode == "9822") {
            std::lock_guard guard(m_lock);
            ++m_failed_owner_changes;
            m_last_failed_owner_change = m_hooks.now_ms();
        }
        std::string payload = answer.value().payload_text();
        page.status(payload.empty() ? "사장님 비밀번호를 바꾸지 못했습니다" : payload);
    } else {
        done = true;
        {
            std::lock_guard guard(m_lock);
            m_failed_owner_changes = 0;
        }
        page.status("사장님 비밀번호를 바꿨습니다. 다음 로그인부터 새 비밀번호를 씁니다(POS 가맹점·폰 가맹점앱·틸웨 회원앱 공통)");
    }
    page.callback("ownerPwDone", done ? "1" : "0");
    getlock(page);
}

bridge::Runs LockFamily::runs(std::string_view name) const
{
    bool lock = name == "getlock" || name == "setlock" || name == "setpin" || name == "setcancelpolicy"
        || name == "checkpin" || name == "setstorepw" || name == "setownerpw";
    return lock ? bridge::Runs::OnLane : bridge::Runs::OnUiThread;
}

bridge::Handled LockFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    std::string_view name = command.name();
    if (name == "getlock")
        m_lock.getlock(page);
    else if (name == "setlock")
        m_lock.setlock(command.arg(1), command.arg(2), page);
    else if (name == "setpin")
        m_lock.setpin(command.arg(1), page);
    else if (name == "setcancelpolicy")
        m_lock.setcancelpolicy(command.arg(1), command.arg(2), page);
    else if (name == "checkpin")
        m_lock.checkpin(command.arg(1), command.arg(2), command.arg(3), page);
    else if (name == "setstorepw")
        m_lock.setstorepw(command.arg(1), command.arg(2), page);
    else if (name == "setownerpw")
        m_lock.setownerpw(command, page);
    else
        return bridge::Handled::No;
    return bridge::Handled::Yes;
}

} // namespace tillbay::server
