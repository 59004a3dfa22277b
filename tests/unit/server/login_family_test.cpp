// The login family driven as the bridge drives it, with a recording page and
// recording hooks, against the scripted API server.

#include "fake_api.h"

#include "foundation/settings.h"
#include "server/login_family.h"
#include "session/session.h"

#include <gtest/gtest.h>

using namespace tillbay;

namespace {

struct RecordingPage : bridge::Page {
    std::vector<std::string> calls;
    void callback(std::string_view name, std::string_view args) override
    {
        calls.push_back(std::string(name) + "(" + std::string(args) + ")");
    }
    void status(std::string_view message) override { calls.push_back("status:" + std::string(message)); }
};

bridge::Command command(std::vector<std::string> fields) { return bridge::Command { std::move(fields), 1, false }; }

std::string const staff_key(64, '1');
std::string const staff_iv(32, '2');
std::string const owner_key(64, '3');
std::string const owner_iv(32, '4');

// The platform as the tests need it: staff "kim"/"pw" of store 7, owner
// "boss"/"pw" of store 7, owner "far"/"pw" of store 8.
std::string platform(fake::Request const& request)
{
    if (request.grade == 5) {
        if (request.data == "cmd=100&id=kim&pw=pw")
            return R"({"resultCode":"0","resultType":"J","resultData":{"storeidx":7,"useridx":3,"shopname":"바다식당","token":"STAFF-TOKEN"}})";
        if (request.data == "cmd=100&id=nostore&pw=pw")
            return R"({"resultCode":"0","resultData":{"storeidx":0,"useridx":3,"token":"X"}})";
        if (request.data.starts_with("cmd=100&"))
            return R"({"resultCode":"1","message":""})";
        if (request.data.starts_with("cmd=53&storeidx=8&token=OWNER-TOKEN-8"))
            return R"({"resultCode":"0","resultData":{"shopname":"산골식당"}})";
        return R"({"resultCode":"1"})";
    }
    if (request.grade == 1) {
        std::string command = fake::owner_command(request);
        auto record = [](int store, std::string_view key) {
            return "{\"devkey\":\"" + std::string(key) + "\",\"deviv\":\"" + owner_iv
                + "\",\"idx\":\"21\",\"storeidx\":\"" + std::to_string(store) + "\",\"name\":\"김사장\",\"nickname\":\"사장님\"}";
        };
        if (command == "cmd=12&id=boss&password=pw")
            return fake::owner_answer("0", record(7, owner_key));
        if (command == "cmd=12&id=far&password=pw")
            return fake::owner_answer("0", record(8, owner_key));
        if (command == "cmd=12&id=short&password=pw")
            return fake::owner_answer("0", record(7, owner_key.substr(0, 63)));
        return fake::owner_answer("1", "");
    }
    std::string command = fake::owner_command(request, owner_key, owner_iv);
    if (command == "cmd=91&storeidx=7")
        return fake::owner_answer("0", R"({"token":"OWNER-TOKEN-7"})", owner_key, owner_iv);
    if (command == "cmd=91&storeidx=8")
        return fake::owner_answer("0", R"({"token":"OWNER-TOKEN-8"})", owner_key, owner_iv);
    if (command == "cmd=55&storeidx=7")
        return fake::owner_answer("0", R"({"storetype":2,"sales":100})", owner_key, owner_iv);
    return fake::owner_answer("1", "", owner_key, owner_iv);
}

class LoginFamilyTest : public ::testing::Test {
protected:
    LoginFamilyTest()
        : m_server(platform)
        , m_env(m_server.port())
        , m_family(hooks())
    {
    }

    server::LoginHooks hooks()
    {
        server::LoginHooks h;
        h.navigate = [this](std::string_view page) { events.push_back("navigate " + std::string(page)); };
        h.update_state = [this] { return update; };
        h.send_update_state = [this](bridge::Page&) { events.push_back("update state"); };
        h.send_server_down = [this](bridge::Page&) { events.push_back("server down"); };
        h.send_service_block = [](bridge::Page& page) { page.callback("setServiceBlock", R"(0,0,0,"","",0)"); };
        h.push_store_changed = [this](int store) { events.push_back("push store " + std::to_string(store)); };
        h.push_stop = [this] { events.push_back("push stop"); };
        return h;
    }

    std::vector<std::string> run(std::vector<std::string> fields)
    {
        RecordingPage page;
        EXPECT_EQ(m_family.handle(command(std::move(fields)), page), bridge::Handled::Yes);
        return page.calls;
    }

    void staff_signed_in()
    {
        run({ "login", "kim", "pw", "1" });
        ASSERT_TRUE(session::staff_signed_in());
        events.clear();
    }

    std::string ini() { return os::read_file(m_env.dir() + "/tillbay.ini", 1 << 16).value(); }

    fake::FakeApi m_server;
    fake::Environment m_env;
    server::LoginFamily m_family;
    server::UpdateState update;
    std::vector<std::string> events;
};

TEST_F(LoginFamilyTest, OtherCommandsAreNotOurs)
{
    RecordingPage page;
    EXPECT_EQ(m_family.handle(command({ "getorders" }), page), bridge::Handled::No);
    EXPECT_TRUE(page.calls.empty());
}

TEST_F(LoginFamilyTest, LoginReadyAndModeFollowTheSavedIds)
{
    ASSERT_TRUE(settings::write_profile("LOGIN", "id", "kim"));
    ASSERT_TRUE(settings::write_profile("LOGIN", "merchid", "boss"));
    // The service block follows, so that a maintenance notice shows on the sign-in page from the start.
    EXPECT_EQ(run({ "loginready" }),
        (std::vector<std::string> { R"(setLoginMode("pos"))", R"(setSavedId("kim"))", R"(setServiceBlock(0,0,0,"","",0))" }));
    EXPECT_EQ(events, (std::vector<std::string> { "update state", "server down" }));

    EXPECT_EQ(run({ "setloginmode", "merch" }), (std::vector<std::string> { R"(setSavedId("boss"))" }));
    EXPECT_EQ(run({ "loginready" }),
        (std::vector<std::string> { R"(setLoginMode("merch"))", R"(setSavedId("boss"))", R"(setServiceBlock(0,0,0,"","",0))" }));
    // Anything but "merch" is the POS mode.
    EXPECT_EQ(run({ "setloginmode", "MERCH" }), (std::vector<std::string> { R"(setSavedId("kim"))" }));
    EXPECT_NE(ini().find("mode=pos"), std::string::npos);

    ASSERT_TRUE(settings::write_profile("LOGIN", "id", std::nullopt));
    EXPECT_EQ(run({ "loginready" }), (std::vector<std::string> { R"(setLoginMode("pos"))", R"(setServiceBlock(0,0,0,"","",0))" }));
    EXPECT_EQ(run({ "setloginmode", "pos" }), (std::vector<std::string> { R"(setSavedId(""))" }));
}

TEST_F(LoginFamilyTest, StaffSignInAndOut)
{
    EXPECT_TRUE(run({ "login", "kim", "pw", "1" }).empty());
    EXPECT_EQ(events, (std::vector<std::string> { "push store 7", "navigate orders.html" }));
    auto staff = session::staff();
    EXPECT_TRUE(staff.signed_in);
    EXPECT_EQ(staff.storeidx, 7);
    EXPECT_EQ(staff.useridx, 3);
    EXPECT_EQ(staff.shop_name, "바다식당");
    EXPECT_FALSE(staff.owner_made);
    EXPECT_EQ(session::access_token().str(), "STAFF-TOKEN");
    EXPECT_NE(ini().find("id=kim"), std::string::npos);

    // Without the remember flag the saved id goes.
    run({ "login", "kim", "pw" });
    EXPECT_EQ(ini().find("id=kim"), std::string::npos);

    events.clear();
    EXPECT_TRUE(run({ "logout" }).empty());
    EXPECT_EQ(events, (std::vector<std::string> { "push stop", "server down", "navigate login.html" }));
    EXPECT_FALSE(session::staff_signed_in());
    EXPECT_EQ(session::storeidx(), 0);
    EXPECT_TRUE(session::access_token().empty());
}

TEST_F(LoginFamilyTest, StaffSignInFailuresLeaveTheStateAlone)
{
    staff_signed_in();
    int connections = m_server.connections();
    struct Case {
        std::vector<std::string> fields;
        std::string error;
        bool connects;
    } const cases[] = {
        { { "login", "kim", "" }, "아이디와 비밀번호를 입력하세요", false },
        { { "login", "kim", "p&w" }, "아이디·비밀번호에 & 또는 = 는 쓸 수 없습니다", false },
        { { "login", "k=m", "pw" }, "아이디·비밀번호에 & 또는 = 는 쓸 수 없습니다", false },
        { { "login", "kim", "wrong" }, "아이디 또는 비밀번호가 맞지 않습니다", true },
        { { "login", "nostore", "pw" }, "매장 정보를 받지 못했습니다", true },
    };
    for (auto const& c : cases) {
        EXPECT_EQ(run(c.fields), (std::vector<std::string> { "setLoginError(" + json::quote(c.error) + ")" }));
        if (!c.connects) {
            EXPECT_EQ(m_server.connections(), connections);
        }
        connections = m_server.connections();
        EXPECT_EQ(session::storeidx(), 7);
        EXPECT_EQ(session::access_token().str(), "STAFF-TOKEN");
    }
    EXPECT_TRUE(events.empty());
    // Fewer than two arguments: nothing at all.
    EXPECT_TRUE(run({ "login", "kim" }).empty());
}

TEST_F(LoginFamilyTest, SignInsAreRefusedWhileUpdatingOrWithoutTls)
{
    update = { "ui-fetch", "화면 파일을 받는 중입니다" };
    for (auto const* name : { "login", "merchlogin" })
        EXPECT_EQ(run({ name, "kim", "pw" }),
            (std::vector<std::string> { "setLoginBusy(0)", "status:화면 파일을 받는 중입니다" }));
    update = { "app-ready", "" };
    EXPECT_EQ(run({ "login", "kim", "pw" }),
        (std::vector<std::string> { "setLoginBusy(0)", "status:프로그램 갱신이 끝난 뒤 로그인할 수 있습니다" }));
    update = { "ui-ready", "" };

    ASSERT_TRUE(settings::write_profile("SERVER", "tls", "0"));
    settings::read_server_settings();
    EXPECT_EQ(run({ "login", "kim", "pw" }),
        (std::vector<std::string> { "setLoginBusy(0)",
            "status:암호화(TLS)가 꺼져 있어 접속하지 않습니다 — tillbay.ini [SERVER] tls=1 로 켠 뒤 다시 실행해 주세요" }));
    EXPECT_EQ(m_server.connections(), 0);
    EXPECT_FALSE(session::staff_signed_in());
}

TEST_F(LoginFamilyTest, OwnerOverStaffOfTheSameStoreAndBack)
{
    staff_signed_in();
    EXPECT_EQ(run({ "merchlogin", "boss", "pw" }),
        (std::vector<std::string> { R"(setMerchState(1,7,"김사장"))", "status:가맹점 로그인 완료" }));
    EXPECT_TRUE(session::owner_signed_in());
    EXPECT_EQ(session::access_token().str(), "OWNER-TOKEN-7");
    EXPECT_EQ(session::saved_staff_token().str(), "STAFF-TOKEN");
    EXPECT_EQ(session::useridx(), 3); // still the staff member
    EXPECT_NE(ini().find("merchid=boss"), std::string::npos);

    EXPECT_EQ(run({ "getmaindash" }),
        (std::vector<std::string> { R"(setMainDash("{\"storetype\":2,\"sales\":100}"))", "applyStoreType(2,true)" }));

    EXPECT_EQ(run({ "merchlogout" }), (std::vector<std::string> { "setMerchState(0,0,'')" }));
    EXPECT_FALSE(session::owner_signed_in());
    EXPECT_TRUE(session::staff_signed_in());
    EXPECT_EQ(session::access_token().str(), "STAFF-TOKEN");
    EXPECT_TRUE(events.empty());

    // A second owner sign-out without an owner leaves the staff token alone.
    EXPECT_EQ(run({ "merchlogout" }), (std::vector<std::string> { "setMerchState(0,0,'')" }));
    EXPECT_EQ(session::access_token().str(), "STAFF-TOKEN");
}

TEST_F(LoginFamilyTest, OwnerOfAnotherStoreTakesThePosAndSignsItAllOut)
{
    staff_signed_in();
    EXPECT_TRUE(run({ "merchlogin", "far", "pw", "go" }).empty());
    EXPECT_EQ(events, (std::vector<std::string> { "push store 8", "navigate home.html" }));
    auto staff = session::staff();
    EXPECT_TRUE(staff.owner_made);
    EXPECT_EQ(staff.storeidx, 8);
    EXPECT_EQ(staff.useridx, 21);
    EXPECT_EQ(staff.shop_name, "산골식당");
    EXPECT_EQ(session::access_token().str(), "OWNER-TOKEN-8");
    EXPECT_TRUE(session::saved_staff_token().empty());

    events.clear();
    EXPECT_EQ(run({ "merchlogout" }), (std::vector<std::string> { "status:가맹점 로그아웃 — POS 도 닫았습니다" }));
    EXPECT_EQ(events, (std::vector<std::string> { "push stop", "server down", "navigate login.html" }));
    EXPECT_FALSE(session::staff_signed_in());
    EXPECT_FALSE(session::owner_signed_in());
    EXPECT_TRUE(session::access_token().empty());
}

TEST_F(LoginFamilyTest, OwnerSignInFailures)
{
    struct Case {
        std::vector<std::string> fields;
        std::string error;
    } const cases[] = {
        { { "merchlogin", "short", "pw" }, "서버가 준 가맹점 키가 규격에 맞지 않습니다" },
        { { "merchlogin", "boss", "nope" }, "아이디 또는 비밀번호가 맞지 않습니다" },
        { { "merchlogin", "", "pw" }, "아이디와 비밀번호를 입력하십시오" },
        { { "merchlogin", "boss", "a&b" }, "아이디·비밀번호에 & 또는 = 는 쓸 수 없습니다" },
    };
    for (auto const& c : cases) {
        EXPECT_EQ(run(c.fields), (std::vector<std::string> { "setMerchError(" + json::quote(c.error) + ")" }));
        EXPECT_FALSE(session::owner_signed_in());
        EXPECT_FALSE(session::staff_signed_in());
    }

    ASSERT_TRUE(settings::write_profile("APPKEY", "key", std::string(63, 'a')));
    EXPECT_EQ(run({ "merchlogin", "boss", "pw" }),
        (std::vector<std::string> {
            "setMerchError(" + json::quote("가맹점 앱 키가 설정에 없습니다 (tillbay.ini 의 [APPKEY])") + ")" }));

    EXPECT_EQ(run({ "getmaindash" }), (std::vector<std::string> { "status:가맹점 로그인이 필요합니다" }));
}

} // namespace
