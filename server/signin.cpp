#include "server/signin.h"

#include "foundation/json_text.h"

#include <cstdlib>

namespace tillbay::signin {

namespace {

// The command text is form-style: an "&" or "=" inside a value would end
// the value early and hand the server a different request.
bool breaks_form(std::string_view text) { return text.find_first_of("&=") != std::string_view::npos; }

// A member the server may send as "12" or as 12.
int number_field(std::string_view text, std::string_view key)
{
    std::string value;
    if (json::text_field(text, key, value, 32))
        return std::atoi(value.c_str());
    return json::int_field(text, key, 0);
}

} // namespace

Result<Staff> staff(api::Endpoint const& endpoint, std::string_view id, std::string_view password)
{
    if (id.empty() || password.empty())
        return Error::with_message("아이디와 비밀번호를 입력하세요");
    if (breaks_form(id) || breaks_form(password))
        return Error::with_message("아이디·비밀번호에 & 또는 = 는 쓸 수 없습니다");

    SecretString command("cmd=100&id=");
    command.append(id);
    command.append("&pw=");
    command.append(password);
    auto answered = api::store_call(endpoint, 0, command.str());
    command.clear();
    if (!answered.ok()) {
        Error error = answered.release_error();
        error.code = no_answer;
        return error;
    }
    api::StoreResult result = answered.release_value();
    // The answer carries the token: it goes when this function returns.
    SecretString data(std::move(result.resultData));
    if (!result.accepted())
        return Error::with_message(result.refusal("아이디 또는 비밀번호가 맞지 않습니다"));

    Staff member;
    member.storeidx = json::int_field(data.str(), "storeidx", 0);
    member.useridx = json::int_field(data.str(), "useridx", 0);
    (void)json::text_field(data.str(), "shopname", member.shop_name, session::max_shop_name + 1);
    if (member.storeidx < 1)
        return Error::with_message("매장 정보를 받지 못했습니다");
    if (member.useridx < 1)
        return Error::with_message("회원 정보를 받지 못했습니다");

    SecretString token;
    (void)json::text_field(data.str(), "token", token.str(), session::max_token + 1);
    session::set_access_token(token.str());
    return member;
}

Result<session::OwnerRecord> owner(api::Endpoint const& endpoint, std::string_view app_key,
    std::string_view app_iv, std::string_view id, std::string_view password)
{
    if (app_key.size() != session::owner_key_length || app_iv.size() != session::owner_iv_length)
        return Error::with_message("가맹점 앱 키가 설정에 없습니다 (tillbay.ini 의 [APPKEY])");
    if (id.empty() || password.empty())
        return Error::with_message("아이디와 비밀번호를 입력하십시오");
    if (breaks_form(id) || breaks_form(password))
        return Error::with_message("아이디·비밀번호에 & 또는 = 는 쓸 수 없습니다");

    SecretString command("cmd=12&id=");
    command.append(id);
    command.append("&password=");
    command.append(password);
    auto answered = api::owner_exchange(endpoint, api::owner_signin_grade, 0, app_key, app_iv, command.str());
    command.clear();
    if (!answered.ok())
        return answered.release_error();
    api::OwnerResult result = answered.release_value();
    if (!result.accepted()) {
        std::string refusal = result.payload_text();
        return Error::with_message(refusal.empty() ? "아이디 또는 비밀번호가 맞지 않습니다" : refusal);
    }
    if (!result.payload || result.payload->empty())
        return Error::with_message("로그인 응답이 비어 있습니다");

    std::string const& payload = result.payload->str();
    session::OwnerRecord record;
    (void)json::text_field(payload, "devkey", record.devkey.str(), 80);
    (void)json::text_field(payload, "deviv", record.deviv.str(), 48);
    (void)json::text_field(payload, "name", record.name, session::max_owner_name + 1);
    (void)json::text_field(payload, "nickname", record.nickname, session::max_owner_name + 1);
    record.idx = number_field(payload, "idx");
    record.storeidx = number_field(payload, "storeidx");
    if (record.devkey.str().size() != session::owner_key_length
        || record.deviv.str().size() != session::owner_iv_length)
        return Error::with_message("서버가 준 가맹점 키가 규격에 맞지 않습니다");
    if (record.idx < 1)
        return Error::with_message("서버가 회원번호를 주지 않았습니다");
    return record;
}

} // namespace tillbay::signin
