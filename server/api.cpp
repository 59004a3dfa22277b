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
std::function<void()> g_before_send;

Waits waits()
{
    std::lock_guard guard(g_waits_lock);
    return g_waits;
}

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

// One request and its answer over a fresh connection. With a sign-in epoch,
// the request leaves only while that sign-in is the current one. Without an
// answer the error's message is the user's text.
Result<SecretString> exchange(Endpoint const& endpoint, std::string_view request, int connect_ms, int answer_ms,
    NoAnswerTexts const& texts, std::optional<uint64_t> signin_epoch = std::nullopt)
{
    auto connection = transport::Connection::open(endpoint.host, endpoint.port, connect_ms);
    if (!connection.ok())
        return Error::with_message(connection.error().message, connection.error().detail);
    if (auto hook = [] {
            std::lock_guard guard(g_waits_lock);
            return g_before_send;
        }())
        hook();
    bool sent = false;
    auto send = [&] { return connection.value().send(request); };
    if (signin_epoch) {
        if (!session::send_if_current(*signin_epoch, send, sent))
            return Error::with_message(text::signin_changed, "sign-in changed before the send");
    } else {
        sent = send();
    }
    if (!sent)
        return Error::with_message("전송 실패");
    auto answer = connection.value().receive_until_quiet(max_answer, answer_ms);
    if (answer.ok())
        return answer.release_value();
    switch (static_cast<transport::ReceiveFailure>(answer.error().code)) {
    case transport::ReceiveFailure::TimedOut:
        return Error::with_message(texts.timed_out, answer.error().detail);
    case transport::ReceiveFailure::TooLarge:
        return Error::with_message(text::answer_too_large, answer.error().detail);
    case transport::ReceiveFailure::Aborted:
        return Error::with_message(text::closing, answer.error().detail);
    case transport::ReceiveFailure::Closed:
        break;
    }
    return Error::with_message(texts.closed, answer.error().detail);
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

void set_before_send_for_testing(std::function<void()> hook)
{
    std::lock_guard guard(g_waits_lock);
    g_before_send = std::move(hook);
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
    SecretString data;
    data.str().reserve(command.size() + 7 + token.size());
    data.append(command);
    if (!token.empty() && !is_signin_command(command)) {
        data.append("&token=");
        data.append(token);
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

StoreResult read_store_answer(std::string_view answer)
{
    StoreResult result;
    result.resultCode = scalar_field(answer, "resultCode", max_result_code);
    result.resultType = scalar_field(answer, "resultType", max_result_type);
    (void)json::text_field(answer, "message", result.message, max_message + 1);
    if (!json::text_field(answer, "resultData", result.resultData, max_result_data + 1))
        result.resultData = std::string(answer.substr(0, max_result_data));
    return result;
}

namespace {

NoAnswerTexts const store_texts { .timed_out = "응답이 없습니다 (시간 초과)", .closed = "연결이 끊겼습니다" };

Result<StoreResult> store_exchange(Endpoint const& endpoint, int useridx, std::string_view command,
    std::string_view token, std::optional<uint64_t> signin_epoch)
{
    if (endpoint.host.empty() || endpoint.header.empty() || command.empty())
        return Error::with_message(text::nothing_to_send);
    if (useridx < 1 && !is_signin_command(command))
        return Error::with_message("로그인이 풀렸습니다 — POS 를 껐다 켜 주세요");
    auto envelope = TRY(store_envelope(endpoint.header.str(), useridx, command, token));
    auto w = waits();
    auto answer = TRY(exchange(endpoint, envelope.str(), w.store_connect_ms, w.store_answer_ms, store_texts, signin_epoch));
    return read_store_answer(answer.str());
}

} // namespace

Result<StoreResult> store_call(Endpoint const& endpoint, int useridx, std::string_view command)
{
    return store_exchange(endpoint, useridx, command, session::access_token().str(), std::nullopt);
}

Result<StoreResult> store_call(std::string_view command)
{
    auto signin = session::snapshot();
    return store_exchange(configured_endpoint(), signin.useridx, command, signin.token.str(), signin.epoch);
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
    if (payload.size() > max_result_data)
        return Error::with_message(text::answer_too_large, "owner payload over its limit");
    return payload;
}

Result<OwnerResult> owner_exchange(Endpoint const& endpoint, int grade, int useridx, std::string_view key_hex,
    std::string_view iv_hex, std::string_view command)
{
    if (endpoint.host.empty() || endpoint.header.empty() || command.empty() || key_hex.empty() || iv_hex.empty())
        return Error::with_message(text::nothing_to_send);
    if (key_hex.size() != session::owner_key_length || iv_hex.size() != session::owner_iv_length)
        return Error::with_message("가맹점 키가 없거나 형식이 다릅니다");
    SecretString base64(TRY(encrypt_command(command, key_hex, iv_hex)));
    auto escaped_header = escape_whole(endpoint.header.str(), max_header_escaped - 6);
    auto escaped_data = escape_whole(base64.str(), max_envelope - 7);
    if (!escaped_header || !escaped_data)
        return Error::with_message("보낼 내용이 너무 깁니다");
    SecretString envelope;
    auto& text = envelope.str();
    text.reserve(escaped_header->size() + escaped_data->size() + 96);
    text.append("{\"header\":\"").append(escaped_header->str());
    text.append("\",\"version\":\"1.0\",\"grade\":").append(std::to_string(grade));
    text.append(",\"useridx\":").append(std::to_string(useridx));
    text.append(",\"data\":\"").append(escaped_data->str()).append("\"}\n");
    if (text.size() > max_envelope)
        return Error::with_message("보낼 내용이 너무 깁니다");

    auto w = waits();
    NoAnswerTexts const texts { .timed_out = "서버 응답이 없습니다", .closed = "서버가 연결을 끊었습니다" };
    auto answer = TRY(exchange(endpoint, text, w.owner_connect_ms, w.owner_answer_ms, texts));
    OwnerResult result;
    result.resultCode = scalar_field(answer.str(), "resultCode", max_result_code);
    result.resultType = scalar_field(answer.str(), "resultType", max_result_type);
    SecretString data;
    (void)json::text_field(answer.str(), "resultData", data.str(), max_answer + 1);
    if (!data.empty())
        result.payload = TRY(decrypt_payload(data.str(), key_hex, iv_hex));
    return result;
}

Result<OwnerResult> owner_call(Endpoint const& endpoint, session::OwnerRecord const& owner, std::string_view command,
    int grade)
{
    if (grade != owner_grade && grade != owner_password_grade)
        return Error::with_message("지원하지 않는 전문입니다");
    if (!owner.signed_in())
        return Error::with_message("가맹점 로그인이 되어 있지 않습니다");
    return owner_exchange(endpoint, grade, owner.idx, owner.devkey.str(), owner.deviv.str(), command);
}

Result<OwnerResult> owner_call(std::string_view command, int grade)
{
    return owner_call(configured_endpoint(), session::owner(), command, grade);
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
    auto result = owner_call(command);
    if (!result.ok()) {
        page.status(result.error().message.empty() ? "서버에 연결하지 못했습니다" : result.error().message);
        fail();
        return;
    }
    if (result.value().accepted()) {
        if (!success_callback.empty()) {
            SecretString argument(json::quote(result.value().payload_text()));
            page.callback(success_callback, argument.str());
        }
        return;
    }
    std::string refusal = result.value().payload_text();
    page.status(refusal.empty() ? "요청이 거절되었습니다" : refusal);
    fail();
}

Result<std::string> owner_request_text(std::string_view command)
{
    auto result = owner_call(command);
    if (!result.ok())
        return Error::with_message(result.error().message.empty() ? "서버에 연결하지 못했습니다" : result.error().message);
    std::string payload = result.value().payload_text();
    if (result.value().accepted())
        return payload;
    return Error::with_message(payload.empty() ? "요청이 거절되었습니다" : payload);
}

Status fetch_owner_token()
{
    auto result = TRY(owner_call(format("cmd=91&storeidx=%d", session::storeidx())));
    if (!result.accepted())
        return Error::with_message("요청이 거절되었습니다", "cmd 91 refused");
    if (result.payload) {
        SecretString token;
        if (json::text_field(result.payload->str(), "token", token.str(), session::max_token + 1) && !token.empty())
            session::set_access_token(token.str());
    }
    return {};
}

} // namespace tillbay::api
