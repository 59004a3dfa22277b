#include "fake_api.h"

#include "server/api.h"
#include "session/session.h"
#include "server/transport.h"

#include <gtest/gtest.h>

using namespace tillbay;

namespace {

TEST(Pin, NormalisedFromTheUsualWritings)
{
    std::string const lower = "3f1c0a9b8e7d6c5b4a39281706f5e4d3c2b1a09f8e7d6c5b4a3928170615a4b3";
    std::string colons;
    for (size_t i = 0; i < lower.size(); i += 2)
        colons += (i ? ":" : "") + lower.substr(i, 2);
    for (auto& c : colons)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    struct Case {
        std::string text;
        std::string pin;
    } const cases[] = {
        { lower, lower },
        { colons, lower },
        { "  " + lower.substr(0, 32) + " - " + lower.substr(32), lower },
        { lower + "ffff", lower },          // cut to the first 64 significant characters
        { lower.substr(0, 63), "" },        // too short: no pin, the trust store decides
        { colons.substr(0, colons.size() - 1), "" },
        { "", "" },
        // Only A-F are folded; other bytes are taken as they are and then
        // simply never match a real fingerprint.
        { std::string(64, 'G'), std::string(64, 'G') },
    };
    for (auto const& c : cases)
        EXPECT_EQ(transport::normalise_pin(c.text), c.pin) << c.text;
}

TEST(StoreEnvelope, BytesTokenRuleAndEscaping)
{
    auto envelope = api::store_envelope("H\"1", 42, "cmd=110&storeidx=7", "tok");
    ASSERT_TRUE(envelope.ok());
    EXPECT_EQ(envelope.value().str(),
        R"({"header":"H\"1","version":"1.0","grade":5,"useridx":42,"data":"cmd=110&storeidx=7&token=tok"})");

    // The sign-in command never carries the token; a command that merely
    // begins with the same digits does.
    auto signin = api::store_envelope("H", 0, "cmd=100&id=a&pw=b", "tok");
    ASSERT_TRUE(signin.ok());
    EXPECT_EQ(signin.value().str().find("token"), std::string::npos);
    auto other = api::store_envelope("H", 3, "cmd=1001&x=1", "tok");
    ASSERT_TRUE(other.ok());
    EXPECT_NE(other.value().str().find("&token=tok"), std::string::npos);

    auto no_token = api::store_envelope("H", 3, "cmd=110&storeidx=7", "");
    ASSERT_TRUE(no_token.ok());
    EXPECT_EQ(no_token.value().str().find("token"), std::string::npos);

    auto escaped = api::store_envelope("H", 3, "cmd=200&memo=a\"b\\c\nd\x01", "");
    ASSERT_TRUE(escaped.ok());
    EXPECT_NE(escaped.value().str().find(R"("data":"cmd=200&memo=a\"b\\c\nd\u0001")"), std::string::npos);

    EXPECT_EQ(api::store_envelope("", 3, "cmd=110", "").error().message, "보낼 내용이 없습니다");
    // Too long to send whole: refused rather than cut.
    std::string huge = "cmd=300&text=" + std::string(40000, '"');
    EXPECT_EQ(api::store_envelope("H", 3, huge, "").error().message, "보낼 내용이 너무 깁니다");
    EXPECT_TRUE(api::store_envelope("H", 3, "cmd=300&text=" + std::string(60000, 'a'), "").ok());
}

TEST(StoreAnswer, ResultDataStringOrWholeAnswer)
{
    struct Case {
        char const* answer;
        char const* code;
        char const* type;
        char const* data;
        char const* message;
    } const cases[] = {
        { R"({"resultCode":"0","resultType":"S","resultData":"a\"b\nc","message":""})", "0", "S", "a\"b\nc", "" },
        { R"({"resultCode":0,"resultType":"J","resultData":{"storeidx":7}})", "0", "J",
            R"({"resultCode":0,"resultType":"J","resultData":{"storeidx":7}})", "" },
        { R"({"resultCode":"-1","message":"잠시 후 다시"})", "-1", "", R"({"resultCode":"-1","message":"잠시 후 다시"})",
            "잠시 후 다시" },
        { R"({"resultCode":"6201","resultData":[1,2]})", "6201", "", R"({"resultCode":"6201","resultData":[1,2]})", "" },
        { "garbage", "", "", "garbage", "" },
    };
    for (auto const& c : cases) {
        api::StoreResult result = api::read_store_answer(c.answer);
        EXPECT_EQ(result.resultCode, c.code) << c.answer;
        EXPECT_EQ(result.resultType, c.type) << c.answer;
        EXPECT_EQ(result.resultData, c.data) << c.answer;
        EXPECT_EQ(result.message, c.message) << c.answer;
    }
    api::StoreResult refused = api::read_store_answer(R"({"resultCode":"9"})");
    EXPECT_EQ(refused.refusal("주문을 취소하지 못했습니다"), "주문을 취소하지 못했습니다");
}

TEST(OwnerCipher, RoundTripAndEveryWayToFail)
{
    std::string const upper_key = "00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF";
    auto encrypted = api::encrypt_command("cmd=55&storeidx=7", upper_key, fake::app_iv);
    ASSERT_TRUE(encrypted.ok());
    // 17 bytes of text take two blocks: 32 bytes, 44 Base64 characters.
    EXPECT_EQ(encrypted.value().size(), 44u);
    auto decrypted = api::decrypt_payload(encrypted.value(), fake::app_key, fake::app_iv);
    ASSERT_TRUE(decrypted.ok());
    EXPECT_EQ(decrypted.value().str(), "cmd=55&storeidx=7");

    // Line breaks and blanks inside the Base64 text are skipped.
    std::string wrapped = encrypted.value().substr(0, 20) + "\r\n " + encrypted.value().substr(20);
    EXPECT_TRUE(api::decrypt_payload(wrapped, fake::app_key, fake::app_iv).ok());

    std::string const bad_hex = std::string(63, 'a') + "g";
    EXPECT_EQ(api::encrypt_command("x", bad_hex, fake::app_iv).error().message, "전문을 암호화하지 못했습니다");

    std::string const undecodable = "응답을 풀지 못했습니다 - 키가 맞지 않습니다";
    std::string const other_key(64, 'e');
    for (auto [text, key] : { std::pair<std::string, std::string> { encrypted.value(), other_key },
             { "AAAA", fake::app_key },            // 3 bytes: not a whole block
             { "!!!!", fake::app_key },            // not Base64
             { "", fake::app_key } }) {
        auto result = api::decrypt_payload(text, key, fake::app_iv);
        ASSERT_FALSE(result.ok()) << text;
        EXPECT_EQ(result.error().message, undecodable);
    }
}

class Calls : public ::testing::Test {
protected:
    void use(fake::FakeApi& server) { m_env = std::make_unique<fake::Environment>(server.port()); }
    std::unique_ptr<fake::Environment> m_env;
};

TEST_F(Calls, StoreCallCarriesTheExactCommandAndTheToken)
{
    fake::FakeApi server([](fake::Request const&) {
        return std::string(R"({"resultCode":"0","resultType":"S","resultData":"done","message":""})");
    });
    use(server);
    session::set_access_token("T0K");
    std::string const command = "cmd=200&memo=\"quoted\" back\\slash\nnext line";
    auto result = api::store_call(api::configured_endpoint(), 5, command);
    ASSERT_TRUE(result.ok()) << result.error().message;
    EXPECT_TRUE(result.value().accepted());
    EXPECT_EQ(result.value().resultData, "done");
    auto seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].data, command + "&token=T0K");
    EXPECT_EQ(seen[0].grade, 5);
    EXPECT_EQ(seen[0].useridx, 5);
    EXPECT_NE(seen[0].envelope.find("\"header\":\"TESTHEADER\""), std::string::npos);
    EXPECT_FALSE(seen[0].envelope.ends_with("\n"));
}

TEST_F(Calls, StoreCallFailuresInOrder)
{
    fake::FakeApi server([](fake::Request const& request) {
        if (request.data.starts_with("cmd=1&"))
            return std::string("silent");
        return std::string(); // hang up without a word
    });
    use(server);
    auto failure = [](Result<api::StoreResult> const& result) { return result.ok() ? std::string("(answered)") : result.error().message; };

    // Before sign-in only command 100 may go, and nothing else even connects.
    EXPECT_EQ(failure(api::store_call(api::configured_endpoint(), 0, "cmd=110&storeidx=7")), "로그인이 풀렸습니다 — POS 를 껐다 켜 주세요");
    EXPECT_EQ(failure(api::store_call(api::configured_endpoint(), 3, "")), "보낼 내용이 없습니다");
    EXPECT_EQ(server.connections(), 0);

    EXPECT_EQ(failure(api::store_call(api::configured_endpoint(), 3, "cmd=1&x=1")), "응답이 없습니다 (시간 초과)");
    EXPECT_EQ(failure(api::store_call(api::configured_endpoint(), 3, "cmd=2&x=1")), "연결이 끊겼습니다");

    // Port 1 on loopback: nobody listens there.
    api::Endpoint nowhere { "127.0.0.1", 1, SecretString("H") };
    EXPECT_EQ(failure(api::store_call(nowhere, 3, "cmd=2")), "연결 실패 (127.0.0.1:1, 주소 1개 시도)");
}

TEST_F(Calls, ASignOutBetweenConnectAndSendKeepsTheOldTokenHome)
{
    fake::FakeApi server([](fake::Request const&) { return std::string(R"({"resultCode":"0","resultData":"[]"})"); });
    use(server);
    session::set_staff(7, 3, "가게", false);
    session::set_access_token("OLD-TOKEN");
    api::set_before_send_for_testing([] { session::clear_staff(); });
    auto result = api::store_call("cmd=110&storeidx=7");
    api::set_before_send_for_testing({});
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message, api::text::signin_changed);
    // The connection was made, but not a byte of the request left.
    auto sent = [&] {
        std::vector<std::string> data;
        for (auto const& request : server.requests())
            if (!request.envelope.empty())
                data.push_back(request.data);
        return data;
    };
    EXPECT_TRUE(sent().empty());

    // A sign-in of another store in that moment stops it the same way.
    session::set_staff(7, 3, "가게", false);
    session::set_access_token("OLD-TOKEN");
    api::set_before_send_for_testing([] {
        session::set_staff(8, 4, "다른 가게", false);
        session::set_access_token("NEW-TOKEN");
    });
    EXPECT_FALSE(api::store_call("cmd=110&storeidx=7").ok());
    api::set_before_send_for_testing({});
    EXPECT_TRUE(sent().empty());

    // Without a change the call goes out with the token of its sign-in.
    ASSERT_TRUE(api::store_call("cmd=110&storeidx=8").ok());
    EXPECT_EQ(sent(), std::vector<std::string> { "cmd=110&storeidx=8&token=NEW-TOKEN" });
}

// A page that records what the family or the request helper tells it.
struct RecordingPage : bridge::Page {
    std::vector<std::string> calls;
    void callback(std::string_view name, std::string_view args) override
    {
        calls.push_back(std::string(name) + "(" + std::string(args) + ")");
    }
    void status(std::string_view message) override { calls.push_back("status:" + std::string(message)); }
};

TEST_F(Calls, OwnerRequestAnswersThePage)
{
    std::string const devkey(64, 'a');
    std::string const deviv(32, 'b');
    fake::FakeApi server([&](fake::Request const& request) {
        std::string command = fake::owner_command(request, devkey, deviv);
        if (command == "cmd=60&storeidx=7")
            return fake::owner_answer("0", R"({"rows":["가"]})", devkey, deviv);
        if (command == "cmd=61&storeidx=7")
            return fake::owner_answer("0", "", devkey, deviv);
        if (command == "cmd=62&storeidx=7")
            return fake::owner_answer("5", "", devkey, deviv);
        if (command == "cmd=63&storeidx=7")
            return fake::owner_answer("5", "메뉴가 없습니다", devkey, deviv);
        return std::string(R"({"resultCode":"0","resultData":"bm90IG91ciBrZXk="})");
    });
    use(server);

    RecordingPage signed_out;
    api::owner_request(signed_out, "cmd=60&storeidx=7", "onRows", "onRowsFail");
    EXPECT_EQ(signed_out.calls, (std::vector<std::string> { "status:가맹점 로그인이 필요합니다", "onRowsFail()" }));
    EXPECT_EQ(server.connections(), 0);

    session::OwnerRecord owner;
    owner.devkey = SecretString(devkey);
    owner.deviv = SecretString(deviv);
    owner.idx = 9;
    owner.storeidx = 7;
    session::set_owner(owner);

    struct Case {
        char const* command;
        std::vector<std::string> page;
    } const cases[] = {
        { "cmd=60&storeidx=7", { R"(onRows("{\"rows\":[\"가\"]}"))" } },
        { "cmd=61&storeidx=7", { R"(onRows(""))" } },
        { "cmd=62&storeidx=7", { "status:요청이 거절되었습니다", "onRowsFail()" } },
        { "cmd=63&storeidx=7", { "status:메뉴가 없습니다", "onRowsFail()" } },
        { "cmd=64&storeidx=7", { "status:응답을 풀지 못했습니다 - 키가 맞지 않습니다", "onRowsFail()" } },
    };
    for (auto const& c : cases) {
        RecordingPage page;
        api::owner_request(page, c.command, "onRows", "onRowsFail");
        EXPECT_EQ(page.calls, c.page) << c.command;
    }
    auto seen = server.requests();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().grade, 3);
    EXPECT_EQ(seen.back().useridx, 9);
    EXPECT_TRUE(seen.back().envelope.ends_with("\"}\n"));

    auto accepted = api::owner_request_text("cmd=61&storeidx=7");
    ASSERT_TRUE(accepted.ok());
    EXPECT_EQ(accepted.value(), "");
    auto refused = api::owner_request_text("cmd=62&storeidx=7");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, "요청이 거절되었습니다");

    auto wrong_grade = api::owner_call("cmd=60&storeidx=7", 5);
    ASSERT_FALSE(wrong_grade.ok());
    EXPECT_EQ(wrong_grade.error().message, "지원하지 않는 전문입니다");
    EXPECT_TRUE(api::owner_call("cmd=60&storeidx=7", api::owner_password_grade).ok());
    EXPECT_EQ(server.requests().back().grade, 7);
}

TEST_F(Calls, OwnerTokenFetchReplacesTheAccessToken)
{
    std::string const devkey(64, 'c');
    std::string const deviv(32, 'd');
    fake::FakeApi server([&](fake::Request const& request) {
        if (fake::owner_command(request, devkey, deviv) == "cmd=91&storeidx=7")
            return fake::owner_answer("0", R"({"token":"OWNER-TOKEN"})", devkey, deviv);
        return fake::owner_answer("1", "", devkey, deviv);
    });
    use(server);
    session::set_staff(7, 3, "가게", false);
    session::set_access_token("STAFF-TOKEN");
    session::OwnerRecord owner;
    owner.devkey = SecretString(devkey);
    owner.deviv = SecretString(deviv);
    owner.idx = 9;
    owner.storeidx = 7;
    session::set_owner(owner);
    EXPECT_TRUE(api::fetch_owner_token().ok());
    EXPECT_EQ(session::access_token().str(), "OWNER-TOKEN");
}

} // namespace
