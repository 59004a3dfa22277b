// The API server: one JSON envelope per connection, answered with one JSON
// object. Store calls carry the command text readable and an access token;
// owner calls carry it encrypted with the owner's device key (or, for the
// sign-in itself, with the application key).

#include "tools/platform/api.h"

#include "tools/platform/commands.h"
#include "tools/platform/faults.h"
#include "tools/platform/pcrypto.h"

#include <cstdio>

namespace tillbay::platform {

namespace {

constexpr char k_bad_request[] = "요청 형식이 올바르지 않습니다";
constexpr char k_unknown_client[] = "허용되지 않은 프로그램입니다";
constexpr char k_expired[] = "로그인이 만료되었습니다 — 다시 로그인해 주세요";
constexpr char k_server_error[] = "서버에서 처리하지 못했습니다. 잠시 뒤 다시 시도해 주세요";
constexpr char k_too_large[] = "응답이 너무 커서 보내지 못했습니다 — 기간이나 개수를 줄여 주세요";

// The POS reads at most this many bytes of an answer and refuses a longer
// one whole; the platform refuses it first, with a reason the owner can act on.
constexpr size_t k_pos_answer_limit = 8 * 1024 * 1024;

std::string error_answer(std::string const& code, std::string const& message)
{
    Json j = { { "resultCode", code }, { "resultType", "error" }, { "message", message }, { "resultData", "" } };
    return j.dump();
}

struct Keys {
    std::string key; // raw bytes
    std::string iv;
};

std::optional<Keys> keys_from_hex(std::string const& key_hex, std::string const& iv_hex)
{
    auto key = hex_decode(key_hex);
    auto iv = hex_decode(iv_hex);
    if (!key || !iv || key->size() != 32 || iv->size() != 16)
        return std::nullopt;
    return Keys { *key, *iv };
}

int command_number(std::map<std::string, std::string> const& form)
{
    auto it = form.find("cmd");
    if (it == form.end() || it->second.empty() || it->second.size() > 6)
        return -1;
    for (char c : it->second)
        if (c < '0' || c > '9')
            return -1;
    return std::stoi(it->second);
}

// Runs a handler inside one transaction; the events it raised go out after the commit.
Reply run_command(Call& call, Handler const& handler)
{
    Reply reply;
    try {
        Db::Transaction tx(call.db());
        reply = handler(call);
        tx.commit();
    } catch (std::exception const& e) {
        std::fprintf(stderr, "api: cmd=%d failed: %s\n", call.cmd, e.what());
        call.events.clear();
        return Reply::refuse(k_server_error, "9");
    }
    for (auto const& event : call.events)
        call.platform.raise(event);
    return reply;
}

std::string payload_text(Reply const& reply)
{
    if (reply.is_text)
        return reply.code == "0" ? reply.text : (reply.text.empty() ? reply.message : reply.text);
    return reply.data.dump();
}

std::string store_answer(Reply const& reply)
{
    Json j = { { "resultCode", reply.code }, { "resultType", reply.is_text ? "text" : "json" }, { "message", reply.message },
        { "resultData", reply.code == "0" ? payload_text(reply) : std::string() } };
    return j.dump();
}

std::string owner_answer(Reply const& reply, Keys const& keys)
{
    std::string payload = payload_text(reply);
    std::string encoded;
    if (!payload.empty()) {
        auto cipher = aes_encrypt(payload, keys.key, keys.iv);
        if (cipher)
            encoded = base64_encode(*cipher);
    }
    Json j = { { "resultCode", reply.code }, { "resultType", reply.is_text ? "text" : "json" }, { "message", reply.message },
        { "resultData", encoded } };
    return j.dump();
}

std::string sized_store_answer(Reply const& reply)
{
    std::string answer = store_answer(reply);
    return answer.size() > k_pos_answer_limit ? error_answer("9", k_too_large) : answer;
}

std::string sized_owner_answer(Reply const& reply, Keys const& keys)
{
    std::string answer = owner_answer(reply, keys);
    return answer.size() > k_pos_answer_limit ? owner_answer(Reply::refuse(k_too_large, "9"), keys) : answer;
}

std::string answer_store_call(Platform& platform, Call& call, std::string const& header, std::optional<Fault>& fault)
{
    call.kind = CallKind::Store;
    call.platform.log_request("api", call.grade, call.useridx, header, call.text);
    if (call.cmd < 0)
        return error_answer("9", k_bad_request);
    fault = platform.take_fault("api", call.cmd);
    if (fault && fault->kind == FaultKind::Refuse)
        return error_answer(fault->code, fault->message);
    auto const& table = command_tables().store;
    if (call.cmd != 100) {
        // Every store call but the sign-in carries a token from a sign-in.
        std::string token = call.str("token");
        auto row = token.empty() ? Json() : platform.db().query_one(
            "SELECT useridx, storeidx, role FROM tokens WHERE token=? AND expires>?", { token, now_seconds() });
        if (row.is_null())
            return error_answer("9", k_expired);
        call.caller = row["useridx"];
        call.storeidx = row["storeidx"];
        call.role = row["role"];
        if (call.has("storeidx") && call.num("storeidx", -1) != call.storeidx)
            return error_answer("9", "다른 매장의 요청은 처리할 수 없습니다");
    }
    auto it = table.find(call.cmd);
    if (it == table.end())
        return error_answer("9", "지원하지 않는 요청입니다 (cmd=" + std::to_string(call.cmd) + ")");
    return sized_store_answer(run_command(call, it->second));
}

std::string answer_owner_call(Platform& platform, Call& call, std::string const& header, std::string const& data,
    std::optional<Fault>& fault)
{
    call.kind = CallKind::Owner;
    std::optional<Keys> keys;
    Json owner;
    if (call.grade == 1) {
        keys = keys_from_hex(platform.secrets().app_key, platform.secrets().app_iv);
    } else {
        owner = platform.db().query_one("SELECT useridx, storeidx, devkey, deviv FROM accounts WHERE useridx=? AND role='owner'",
            { call.useridx });
        if (!owner.is_null())
            keys = keys_from_hex(owner["devkey"], owner["deviv"]);
    }
    std::optional<std::string> plain;
    if (keys) {
        auto cipher = base64_decode(data);
        if (cipher)
            plain = aes_decrypt(*cipher, keys->key, keys->iv);
    }
    if (!plain) {
        platform.log_request("api", call.grade, call.useridx, header, "");
        return error_answer("9", call.grade == 1 ? "앱 키가 맞지 않습니다" : "가맹점 키가 맞지 않습니다 — 다시 로그인해 주세요");
    }
    call.text = *plain;
    call.form = parse_form(call.text);
    call.cmd = command_number(call.form);
    platform.log_request("api", call.grade, call.useridx, header, call.text);
    fault = platform.take_fault("api", call.cmd);
    if (fault && fault->kind == FaultKind::Refuse)
        return owner_answer(Reply::refuse(fault->message, fault->code), *keys);
    if (call.cmd < 0)
        return owner_answer(Reply::refuse(k_bad_request, "9"), *keys);

    if (call.grade == 1) {
        if (call.cmd != 12)
            return owner_answer(Reply::refuse("지원하지 않는 전문입니다", "9"), *keys);
        return owner_answer(run_command(call, owner_sign_in), *keys);
    }
    call.caller = owner["useridx"];
    call.storeidx = owner["storeidx"];
    call.role = "owner";
    if (call.has("storeidx") && call.num("storeidx", -1) != call.storeidx)
        return owner_answer(Reply::refuse("다른 매장의 요청은 처리할 수 없습니다", "9"), *keys);
    if (call.grade == 7) {
        if (call.cmd != 6)
            return owner_answer(Reply::refuse("지원하지 않는 전문입니다", "9"), *keys);
        return owner_answer(run_command(call, owner_password_change), *keys);
    }
    auto const& table = command_tables().owner;
    auto it = table.find(call.cmd);
    if (it == table.end())
        return owner_answer(Reply::refuse("지원하지 않는 요청입니다 (cmd=" + std::to_string(call.cmd) + ")", "9"), *keys);
    return sized_owner_answer(run_command(call, it->second), *keys);
}

} // namespace

size_t json_object_end(std::string_view buffer)
{
    size_t i = 0;
    while (i < buffer.size() && (buffer[i] == ' ' || buffer[i] == '\t' || buffer[i] == '\r' || buffer[i] == '\n'))
        ++i;
    if (i == buffer.size())
        return 0;
    if (buffer[i] != '{')
        return std::string_view::npos;
    int depth = 0;
    bool in_string = false;
    for (; i < buffer.size(); ++i) {
        char c = buffer[i];
        if (in_string) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                in_string = false;
            continue;
        }
        if (c == '"')
            in_string = true;
        else if (c == '{' || c == '[')
            ++depth;
        else if (c == '}' || c == ']') {
            if (--depth == 0)
                return i + 1;
            if (depth < 0)
                return std::string_view::npos;
        }
    }
    return 0;
}

std::string answer_envelope(Platform& platform, std::string_view envelope, std::optional<Fault>& fault)
{
    Json j = Json::parse(envelope, nullptr, false);
    if (!j.is_object() || !j.contains("header") || !j["header"].is_string() || !j.contains("data") || !j["data"].is_string()
        || !j.contains("grade") || !j["grade"].is_number_integer()) {
        platform.log_request("api", 0, 0, "", "");
        return error_answer("9", k_bad_request);
    }
    std::string header = j["header"];
    int grade = j["grade"];
    long long useridx = 0;
    if (j.contains("useridx") && j["useridx"].is_number_integer())
        useridx = j["useridx"];
    std::string data = j["data"];
    if (header != platform.secrets().server_header) {
        platform.log_request("api", grade, useridx, header, grade == 5 ? data : "");
        return error_answer("9", k_unknown_client);
    }
    Call call { platform, CallKind::Store };
    call.grade = grade;
    call.useridx = useridx;
    if (grade == 5) {
        call.text = data;
        call.form = parse_form(data);
        call.cmd = command_number(call.form);
        return answer_store_call(platform, call, header, fault);
    }
    if (grade == 1 || grade == 3 || grade == 7)
        return answer_owner_call(platform, call, header, data, fault);
    platform.log_request("api", grade, useridx, header, "");
    return error_answer("9", "지원하지 않는 전문입니다");
}

void serve_api_connection(Platform& platform, Conn& conn)
{
    std::string buffer;
    auto deadline = deadline_in(std::chrono::milliseconds(k_envelope_wait_ms));
    size_t end = 0;
    for (;;) {
        end = json_object_end(buffer);
        if (end == std::string::npos) {
            platform.log_request("api", 0, 0, "", "");
            conn.write_all(error_answer("9", k_bad_request));
            return;
        }
        if (end > 0)
            break;
        if (buffer.size() >= k_envelope_limit) {
            platform.log_request("api", 0, 0, "", "");
            conn.write_all(error_answer("9", "요청이 너무 큽니다"));
            return;
        }
        auto result = conn.read_some(buffer, k_envelope_limit - buffer.size(), deadline);
        if (result == Conn::ReadResult::Closed)
            return;
        if (result == Conn::ReadResult::Timeout) {
            // Half an envelope: tell the client why before closing.
            if (!buffer.empty())
                conn.write_all(error_answer("9", k_bad_request));
            return;
        }
    }
    std::optional<Fault> fault;
    std::string answer = answer_envelope(platform, std::string_view(buffer).substr(0, end), fault);
    if (fault) {
        // A fault injected through the control interface (Refuse is already
        // in the answer).
        if (!play_connection_fault(conn, *fault, "\x16\x03garbage<html>not json\r\n"))
            return;
        if (fault->kind == FaultKind::BadByte) {
            for (size_t at = answer.find(fault->message); at != std::string::npos; at = answer.find(fault->message, at + 1))
                answer.replace(at, fault->message.size(), "\xFF");
        }
    }
    conn.write_all(answer);
}

} // namespace tillbay::platform
