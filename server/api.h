#pragma once

// The two kinds of call to the platform's API server. Both send one JSON
// envelope over one fresh transport connection and read one JSON answer whose
// resultCode "0" means the server accepted the command.
//
// - Store call: the command text ("cmd=110&storeidx=7...") travels readable
//   in the envelope's data, with "&token=" and the access token appended
//   (never on the sign-in command 100).
// - Owner call: the command text travels AES-256-CBC encrypted with the
//   owner's device key and IV, Base64 in the data; the answer's resultData is
//   the Base64 of the encrypted payload.
//
// Calls block the calling thread (at most about 5 s to connect, 8 s for the
// first answer bytes, 2 s of silence at the end) and never retry: they run on
// the command lane or another worker, never on the UI thread.

#include "bridge/family.h"
#include "os/crypto.h"
#include "session/session.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::api {

inline constexpr size_t max_envelope = 65535;
// The largest answer read. A busy day's order list with several hundred
// orders is a few hundred kilobytes; an answer beyond this bound is refused
// whole (text::answer_too_large) rather than handed on cut short.
inline constexpr size_t max_answer = 8 * 1024 * 1024;
inline constexpr size_t max_header_escaped = 1023;
inline constexpr size_t max_result_code = 15;
inline constexpr size_t max_result_type = 15;
inline constexpr size_t max_result_data = max_answer;
inline constexpr size_t max_message = 255;
inline constexpr size_t max_error = 255;

inline constexpr int store_connect_ms = 5000;
inline constexpr int store_answer_ms = 8000;
inline constexpr int owner_connect_ms = 4000;
inline constexpr int owner_answer_ms = 9000;

inline constexpr int owner_grade = 3;
inline constexpr int owner_password_grade = 7;
inline constexpr int owner_signin_grade = 1;

namespace text {
inline constexpr char const* nothing_to_send = "보낼 내용이 없습니다";
inline constexpr char const* answer_too_large = "서버 응답이 너무 커서 받지 않았습니다";
inline constexpr char const* closing = "프로그램을 닫는 중입니다";
inline constexpr char const* signin_changed = "로그인이 바뀌어 요청을 보내지 않았습니다";
} // namespace text

// What the server answered. A call that got no answer fails instead, with the
// user's text as the error message.
struct StoreResult {
    std::string resultCode;
    std::string resultType;
    std::string resultData; // the unescaped string, or the whole answer when resultData is not a string
    std::string message;

    bool accepted() const { return resultCode == "0"; }
    // The server's message when it gave one, else the caller's own text.
    std::string refusal(std::string_view fallback) const
    {
        return message.empty() ? std::string(fallback) : message;
    }
};

struct OwnerResult {
    std::string resultCode;
    std::string resultType;
    std::optional<SecretString> payload; // the decrypted resultData, when there was one

    bool accepted() const { return resultCode == "0"; }
    std::string payload_text() const { return payload ? payload->str() : std::string {}; }
};

// Where calls go: the API server of the settings, or another for tests and tools.
struct Endpoint {
    std::string host;
    int port = 0;
    SecretString header;
};
// The settings' host, port and client header.
Endpoint configured_endpoint();

// The envelope of a store call, as sent. Fails with the user's message when
// the header is empty or the command does not fit.
Result<SecretString> store_envelope(std::string_view header, int useridx, std::string_view command,
    std::string_view token);

// Whether the command is the staff sign-in (command 100), which is sent
// before anyone is signed in and never carries the token.
bool is_signin_command(std::string_view command);

// The answer, whatever its resultCode; the error's message is the user's
// text when no answer came.
Result<StoreResult> store_call(Endpoint const& endpoint, int useridx, std::string_view command);
// The configured server and the signed-in member with its token. The request
// is sent only while that sign-in is still the current one.
Result<StoreResult> store_call(std::string_view command);

// Reads an answer the way every call does (exposed for tests).
StoreResult read_store_answer(std::string_view answer);

// The encrypted owner exchange with explicit keys: the owner sign-in uses the
// application key and IV with grade 1 and member number 0.
Result<OwnerResult> owner_exchange(Endpoint const& endpoint, int grade, int useridx, std::string_view key_hex,
    std::string_view iv_hex, std::string_view command);

// Owner call with the signed-in owner's keys: grade 3 for ordinary commands,
// 7 for the owner password change; any other grade fails with
// "지원하지 않는 전문입니다".
Result<OwnerResult> owner_call(Endpoint const& endpoint, session::OwnerRecord const& owner, std::string_view command,
    int grade = owner_grade);
Result<OwnerResult> owner_call(std::string_view command, int grade = owner_grade);

// Runs an owner call for a page: the success callback gets the payload as a
// JSON string; a refusal or failure shows a status message and runs the
// failure callback without arguments. Empty names skip the callback.
void owner_request(bridge::Page& page, std::string_view command, std::string_view success_callback,
    std::string_view failure_callback);

// Runs an owner call: the payload (or "") for resultCode "0"; otherwise the
// error's message is the refusal or failure text.
Result<std::string> owner_request_text(std::string_view command);

// Command 91 after an owner signs in: makes the token of the answer the
// access token when there is one. Fails when the server did not accept it.
Status fetch_owner_token();

// The owner message cipher: AES-256-CBC with PKCS#7 padding, the key and IV
// given as 64 and 32 hexadecimal characters (either case), Base64 outside.
Result<std::string> encrypt_command(std::string_view text, std::string_view key_hex, std::string_view iv_hex);
Result<SecretString> decrypt_payload(std::string_view base64, std::string_view key_hex, std::string_view iv_hex);

// Tests shorten the waits; the defaults are the constants above.
struct Waits {
    int store_connect_ms = api::store_connect_ms;
    int store_answer_ms = api::store_answer_ms;
    int owner_connect_ms = api::owner_connect_ms;
    int owner_answer_ms = api::owner_answer_ms;
};
void set_waits_for_testing(Waits waits);
// Tests: runs between the connect and the send of every call (a sign-out at
// that moment, say); empty to remove.
void set_before_send_for_testing(std::function<void()> hook);

} // namespace tillbay::api
