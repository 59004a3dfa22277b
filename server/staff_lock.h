#pragma once

// The staff lock of this PC and the store's PIN. Two rules guard the counter
// actions that hand out money or change what was ordered:
//
// - The local lock (settings section LOCK: mode, salt, pin) decides who may
//   open the cash drawer and edit an order's lines: anyone (0), staff with
//   the PIN (1), the owner only (2). A correct PIN opens a 90-second window
//   in mode 1; five wrong PINs make the next attempts wait 30 seconds.
// - The cancellation policy lives on the server, which enforces it when a
//   cancel arrives; here it is only read (command 137) and set (136).
//
// The owner, once signed in, changes both, sets the PIN, and changes the
// store's staff password and the owner's own password.
//
// Every command here may ask the server, so all of them run on the command
// lane, one at a time; the order actions ask need_lock() from the same lane.
// The state still sits behind a lock of its own, so a test or another
// caller may use it from any thread.

#include "base/result.h"
#include "bridge/family.h"
#include "server/api.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace tillbay::server {

inline constexpr uint64_t unlock_window_ms = 90'000;
inline constexpr uint64_t wrong_attempt_wait_ms = 30'000;
inline constexpr int wrong_attempts_before_wait = 5;
inline constexpr size_t salt_hex_length = 16;
inline constexpr size_t pin_hash_hex_length = 64;

enum class LockMode {
    Anyone = 0,
    StaffPin = 1,
    OwnerOnly = 2,
};

namespace lock_text {
inline constexpr char const* owner_needed_lock = "직원 잠금은 사장님(가맹점) 로그인 뒤에 바꿀 수 있습니다";
inline constexpr char const* owner_needed = "사장님(가맹점) 로그인 뒤에 바꿀 수 있습니다";
inline constexpr char const* pin_digits = "PIN 은 숫자만";
inline constexpr char const* pin_length = "PIN 은 4~6자리";
inline constexpr char const* pin_first = "먼저 «PIN 정하기» 로 번호를 정해 주세요";
inline constexpr char const* not_saved = "설정을 저장하지 못했습니다";
inline constexpr char const* unreachable = "서버에 닿지 못했습니다";
inline constexpr char const* server_not_saved = "서버가 저장하지 못했습니다 (서버 판이 낮으면 아직 안 됩니다)";
inline constexpr char const* policy_unknown = "서버의 취소 규칙을 읽지 못해 PIN 을 정하지 않았습니다. 잠시 뒤 다시 하십시오";
inline constexpr char const* pin_set = "PIN 을 정했습니다";
inline constexpr char const* wait = "잠시 뒤 다시 시도하십시오";
inline constexpr char const* wrong_pin = "PIN 이 틀립니다";
} // namespace lock_text

// The mode's text ("현금서랍: ...") and the cancellation policy's ("결제 취소: ...").
std::string_view mode_text(int mode);
std::string_view policy_text(int policy);

// A PIN is 4 to 6 decimal digits: the refusal text, or empty when it is one.
std::string_view pin_problem(std::string_view pin);
// The stored hash of a PIN: lower-case hexadecimal SHA-256 of salt ":" PIN.
std::string pin_hash(std::string_view salt, std::string_view pin);
// Equal texts, in a time that does not depend on where they differ.
bool equal_in_constant_time(std::string_view a, std::string_view b);

struct LockHooks {
    // A store call; fails with the user's text when no answer came.
    std::function<Result<api::StoreResult>(std::string_view command)> store_call;
    // An owner call with the signed-in owner's keys and the given grade.
    std::function<Result<api::OwnerResult>(std::string_view command, int grade)> owner_call;
    // Milliseconds of a monotonic clock.
    std::function<uint64_t()> now_ms;

    // The real calls and the monotonic clock.
    static LockHooks standard();
};

class StaffLock {
public:
    explicit StaffLock(LockHooks hooks = LockHooks::standard());

    // True when the action ("drawer", "editmenu") may go ahead now. Otherwise
    // the page is asked for the PIN (needLock) and the action must stop; the
    // page repeats it after a correct checkpin.
    bool need_lock(std::string_view action, std::string_view detail, bridge::Page& page);

    void getlock(bridge::Page& page);
    void setlock(std::string_view mode, std::string_view pin, bridge::Page& page);
    void setpin(std::string_view pin, bridge::Page& page);
    void setcancelpolicy(std::string_view policy, std::string_view pin, bridge::Page& page);
    void checkpin(std::string_view pin, std::string_view action, std::string_view detail, bridge::Page& page);
    void setstorepw(std::string_view owner_password, std::string_view new_password, bridge::Page& page);
    void setownerpw(bridge::Command const& command, bridge::Page& page);

    // The local mode as stored (0 when absent or out of range).
    static int local_mode();
    // Whether a local PIN is stored.
    static bool local_pin_set();

private:
    // Stores salt and hash in one write; false leaves the old PIN.
    bool store_local_pin(std::string_view pin);
    // The server's policy and PIN flag (command 137); false when not read.
    bool read_policy();
    // The common end of the policy-setting commands.
    void send_policy(int policy, std::string_view pin, std::string_view success, bridge::Page& page);

    LockHooks m_hooks;
    std::mutex m_lock;
    uint64_t m_unlock_until = 0; // 0: closed
    int m_failed_checks = 0;
    uint64_t m_last_failed_check = 0;
    int m_failed_owner_changes = 0;
    uint64_t m_last_failed_owner_change = 0;
    int m_policy = -1;
    bool m_server_pin = false;
};

// The lock commands, in the `pc` slot; all on the command lane.
class LockFamily final : public bridge::Family {
public:
    explicit LockFamily(StaffLock& lock)
        : m_lock(lock)
    {
    }
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;
    bridge::Runs runs(std::string_view name) const override;

private:
    StaffLock& m_lock;
};

} // namespace tillbay::server
