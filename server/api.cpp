#include "server/api.h"

#include "base/ascii.h"
#include "foundation/json_text.h"
#include "foundation/settings.h"
#include "server/transport.h"

#include <climits>
#include <cstdio>
#include <mutex>

namespace tillbay::api {

namespace {

std::mutex g_waits_lock;
Waits g_waits;

Waits waits()
{
    std::lock_guard guard(g_waits_lock);
    return g_waits;
}

// Room for the answer: its limit plus the terminator the transport writes.
constexpr size_t answer_buffer = max_answer + 1;

// The escaped text of a value for the envelope, or nothing when it would not
// fit in limit bytes. The envelope is never sent cut short: a command cut in
// the middle could reach the server as another, valid-looking command.
std::optional<SecretString> escape_whole(std::string const& text, size_t limit)
{
    SecretString escaped(json::escape_bounded(text.c_str(), text.size() * 6 + 8));
    if (escaped.str().size() > limit)
        return std::nullopt;
    return escaped;
}

// resultCode and resultType come as strings ("0") or bare numbers (0).
std::string scalar_field(std::string_view answer, std::string_view key, size_t limit)
{
    std::string value;
    if (json::text_field(answer, key, value, limit + 1))
        return value;
    int number = json::int_field(answer, key, INT_MIN);
    return number == INT_MIN ? std::string {} : std::to_string(number);
}

// Hexadecimal text of exactly 2 * bytes characters into bytes.
std::optional<SecretString> from_hex(std::string_view hex, size_t bytes)
{
    if (hex.size() != bytes * 2)
        return std::nullopt;
    SecretString out;
    out.str().resize(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        int high = ascii::hex_digit_value(hex[2 * i]);
        int low = ascii::hex_digit_value(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.str()[i] = static_cast<char>(high * 16 + low);
    }
    return out;
}

// The store and owner calls word a missing answer each in their own way.
struct NoAnswerTexts {
    char const* timed_out;
    char const* closed;
};

// One request and its answer over a fresh connection. Without an answer it
// is false, with the user's message in error.
bool exchange(Endpoint const& endpoint, std::string_view request, int connect_ms, int answer_ms,
    NoAnswerTexts const& texts, SecretString& answer, std::string& error)
{
    auto connection = transport::Connection::open(endpoint.host, endpoint.port, connect_ms);
    if (!connection.ok()) {
        error = connection.error().message;
        return false;
    }
    if (!connection.value().send(request)) {
        error = "전송 실패";
        return false;
    }
    answer.str().assign(answer_buffer, '\0');
    bool timed_out = false;
    size_t n = connection.value().receive_until_quiet(answer.str().data(), answer_buffer, answer_ms, timed_out);
    if (n == 0) {
        error = timed_out ? texts.timed_out : texts.closed;
        return false;
    }
    // An answer that fills the whole buffer was cut: half an answer must
    // not reach a page as if it were the server's data.
    if (n >= max_answer) {
        wipe(answer.str());
        error = "응답이 너무 커서 다 받지 못했습니다";
        return false;
    }
    // The bytes after the answer are zeros already; shrinking keeps the wipe
    // of the whole buffer possible (wipe covers the capacity).
    answer.str().resize(n);
    return true;
}

template<typename... Args>
std::string format(char const* pattern, Args... args)
{
    char text[256];
    int n = std::snprintf(text, sizeof text, pattern, args...);
    return n < 0 ? std::string {} : std::string(text);
}

} // namespace

void set_waits_for_testing(Waits new_waits)
{
    std::lock_guard guard(g_waits_lock);
    g_waits = new_waits;
}

Endpoint configured_endpoint()
{
    auto const& server = settings::server();
    return Endpoint { server.host, server.port, settings::server_header() };
}

bool is_signin_command(std::string_view command)
{
    constexpr std::string_view signin = "cmd=100";
    return command.starts_with(signin) && (command.size() == signin.size() || command[signin.size()] == '&');
}

Result<SecretString> store_envelope(std::string_view header, int useridx, std::string_view command,
    std::string_view token)
{
    if (header.empty() || command.empty())
        return Error::with_message("보낼 내용이 없습니다");
    SecretString data(std::string { command });
    if (!token.empty() && !is_signin_command(command)) {
        data.str().append("&token=");
        data.str().append(token);
    }
    auto escaped_header = escape_whole(std::string(header), max_header_escaped - 6);
    auto escaped_data = escape_whole(data.str(), max_envelope - 7);
    if (!escaped_header || !escaped_data)
        return Error::with_message("보낼 내용이 너무 깁니다", "store envelope over its limit");
    SecretString envelope;
    auto& text = envelope.str();
    text.reserve(escaped_data->str().size() + escaped_header->str().size() + 96);
    text.append("{\"header\":\"").append(escaped_header->str());
    text.append("\",\"version\":\"1.0\",\"grade\":5,\"useridx\":").append(std::to_string(useridx));
    text.append(",\"data\":\"").append(escaped_data->str()).append("\"}");
    if (text.size() > max_envelope)
        return Error::with_message("보낼 내용이 너무 깁니다", "store envelope over its limit");
    return envelope;
}

void read_store_answer(std::string_view answer, StoreResult& result)
{
    result.resultCode = scalar_field(answer, "resultCode", max_result_code);
    result.resultType = scalar_field(answer, "resultType", max_result_type);
    (void)json::text_field(answer, "message", result.message, max_message + 1);
    if (!json::text_field(answer, "resultData", result.resultData, max_result_data + 1))
        result.resultData = std::string(answer.substr(0, max_result_data));
}

bool store_call(Endpoint const& endpoint, int useridx, std::string_view command, StoreResult& result)
{
    result = StoreResult {};
    if (endpoint.host.empty() || endpoint.header.empty() || command.empty()) {
        result.error = "보낼 내용이 없습니다";
        return false;
    }
    if (useridx < 1 && !is_signin_command(command)) {
        result.error = "로그인이 풀렸습니다 — POS 를 껐다 켜 주세요";
        return false;
    }
    auto envelope = store_envelope(endpoint.header.str(), useridx, command, session::access_token().str());
    if (!envelope.ok()) {
        result.error = envelope.error().message;
        return false;
    }
    auto w = waits();
    SecretString answer;
    NoAnswerTexts const texts { .timed_out = "응답이 없습니다 (시간 초과)", .closed = "연결이 끊겼습니다" };
    if (!exchange(endpoint, envelope.value().str(), w.store_connect_ms, w.store_answer_ms, texts, answer, result.error))
        return false;
    read_store_answer(answer.str(), result);
    return true;
}

bool store_call(std::string_view command, StoreResult& result)
{
    return store_call(configured_endpoint(), session::useridx(), command, result);
}

Result<std::string> encrypt_command(std::string_view text, std::string_view key_hex, std::string_view iv_hex)
{
    auto key = from_hex(key_hex, 32);
    auto iv = from_hex(iv_hex, 16);
    if (!key || !iv)
        return Error::with_message("전문을 암호화하지 못했습니다", "owner key or iv is not hexadecimal");
    auto cipher = os::aes256cbc_encrypt(text, key->str(), iv->str());
    if (!cipher.ok())
        return Error::with_message("전문을 암호화하지 못했습니다", cipher.error().detail);
    std::string base64 = json::base64_encode(cipher.value());
    wipe(cipher.value());
    return base64;
}

Result<SecretString> decrypt_payload(std::string_view base64, std::string_view key_hex, std::string_view iv_hex)
{
    Error const failure = Error::with_message("응답을 풀지 못했습니다 - 키가 맞지 않습니다");
    auto key = from_hex(key_hex, 32);
    auto iv = from_hex(iv_hex, 16);
    if (!key || !iv)
        return failure;
    auto cipher = json::base64_decode(base64);
    if (!cipher || cipher->empty() || cipher->size() % 16 != 0) {
        if (cipher)
            wipe(*cipher);
        return failure;
    }
    auto plain = os::aes256cbc_decrypt(*cipher, key->str(), iv->str());
    wipe(*cipher);
    if (!plain.ok())
        return failure;
    SecretString payload(plain.release_value());
    if (payload.str().size() > max_result_data) {
        wipe(payload.str().data() + max_result_data, payload.str().size() - max_result_data);
        payload.str().resize(max_result_data);
    }
    return payload;
}

bool owner_exchange(Endpoint const& endpoint, int grade, int useridx, std::string_view key_hex,
    std::string_view iv_hex, std::string_view command, OwnerResult& result)
{
    result = OwnerResult {};
    if (endpoint.host.empty() || endpoint.header.empty() || command.empty() || key_hex.empty() || iv_hex.empty()) {
        result.error = "보낼 내용이 없습니다";
        return false;
    }
    if (key_hex.size() != session::owner_key_length || iv_hex.size() != session::owner_iv_length) {
        result.error = "가맹점 키가 없거나 형식이 다릅니다";
        return false;
    }
    auto encrypted = encrypt_command(command, key_hex, iv_hex);
    if (!encrypted.ok()) {
        result.error = encrypted.error().message;
        return false;
    }
    SecretString base64(encrypted.release_value());
    auto escaped_header = escape_whole(endpoint.header.str(), max_header_escaped - 6);
    auto escaped_data = escape_whole(base64.str(), max_envelope - 7);
    if (!escaped_header || !escaped_data) {
        result.error = "보낼 내용이 너무 깁니다";
        return false;
    }
    SecretString envelope;
    auto& text = envelope.str();
    text.append("{\"header\":\"").append(escaped_header->str());
    text.append("\",\"version\":\"1.0\",\"grade\":").append(std::to_string(grade));
    text.append(",\"useridx\":").append(std::to_string(useridx));
    text.append(",\"data\":\"").append(escaped_data->str()).append("\"}\n");
    if (text.size() > max_envelope) {
        result.error = "보낼 내용이 너무 깁니다";
        return false;
    }

    auto w = waits();
    SecretString answer;
    NoAnswerTexts const texts { .timed_out = "서버 응답이 없습니다", .closed = "서버가 연결을 끊었습니다" };
    if (!exchange(endpoint, text, w.owner_connect_ms, w.owner_answer_ms, texts, answer, result.error))
        return false;
    result.resultCode = scalar_field(answer.str(), "resultCode", max_result_code);
    result.resultType = scalar_field(answer.str(), "resultType", max_result_type);
    SecretString data;
    (void)json::text_field(answer.str(), "resultData", data.str(), max_answer + 1);
    if (data.empty()) {
        result.exchanged = true;
        return true;
    }
    auto payload = decrypt_payload(data.str(), key_hex, iv_hex);
    if (!payload.ok()) {
        result.error = payload.error().message;
        return false;
    }
    result.payload = payload.release_value();
    result.exchanged = true;
    return true;
}

bool owner_call(Endpoint const& endpoint, session::OwnerRecord const& owner, std::string_view command,
    OwnerResult& result, int grade)
{
    result = OwnerResult {};
    if (grade != owner_grade && grade != owner_password_grade) {
        result.error = "지원하지 않는 전문입니다";
        return false;
    }
    if (!owner.signed_in()) {
        result.error = "가맹점 로그인이 되어 있지 않습니다";
        return false;
    }
    return owner_exchange(endpoint, grade, owner.idx, owner.devkey.str(), owner.deviv.str(), command, result);
}

bool owner_call(std::string_view command, OwnerResult& result, int grade)
{
    return owner_call(configured_endpoint(), session::owner(), command, result, grade);
}

void owner_request(bridge::Page& page, std::string_view command, std::string_view success_callback,
    std::string_view failure_callback)
{
    auto fail = [&] {
        if (!failure_callback.empty())
            page.callback(failure_callback, "");
    };
    if (!session::owner_signed_in()) {
        page.status("가맹점 로그인이 필요합니다");
        fail();
        return;
    }
    OwnerResult result;
    if (!owner_call(command, result)) {
        page.status(result.error.empty() ? "서버에 연결하지 못했습니다" : result.error);
        fail();
        return;
    }
    if (result.accepted()) {
        if (!success_callback.empty()) {
            SecretString argument(json::quote(result.payload_text()));
            page.callback(success_callback, argument.str());
        }
        return;
    }
    std::string refusal = result.payload_text();
    page.status(refusal.empty() ? "요청이 거절되었습니다" : refusal);
    fail();
}

bool owner_request_text(std::string_view command, std::string& out)
{
    OwnerResult result;
    if (!owner_call(command, result)) {
        out = result.error.empty() ? "서버에 연결하지 못했습니다" : result.error;
        return false;
    }
    out = result.payload_text();
    if (result.accepted())
        return true;
    if (out.empty())
        out = "요청이 거절되었습니다";
    return false;
}

bool fetch_owner_token()
{
    OwnerResult result;
    if (!owner_call(format("cmd=91&storeidx=%d", session::storeidx()), result) || !result.accepted())
        return false;
    if (result.payload) {
        SecretString token;
        if (json::text_field(result.payload->str(), "token", token.str(), session::max_token + 1) && !token.empty())
            session::set_access_token(token.str());
    }
    return true;
}

} // namespace tillbay::api
