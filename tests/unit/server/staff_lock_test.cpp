#include "../printing/settings_file.h"
#include "foundation/settings.h"
#include "server/staff_lock.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <deque>
#include <sys/stat.h>

using namespace tillbay;

namespace {

class Page final : public bridge::Page {
public:
    void callback(std::string_view name, std::string_view args) override
    {
        said.push_back(std::string(name) + "(" + std::string(args) + ")");
    }
    void status(std::string_view message) override { said.push_back("status:" + std::string(message)); }
    bool has(std::string const& line) const { return std::find(said.begin(), said.end(), line) != said.end(); }
    std::vector<std::string> said;
};

// The server as a script of store and owner answers; the clock is the test's.
struct Server {
    struct Answer {
        bool reached = true;
        std::string code = "0";
        std::string data;
    };
    std::deque<Answer> store;
    std::deque<Answer> owner;
    std::vector<std::string> sent;
    uint64_t now = 5'000'000;

    server::LockHooks hooks()
    {
        server::LockHooks h;
        h.store_call = [this](std::string_view command) -> Result<api::StoreResult> {
            sent.emplace_back(command);
            if (store.empty() || !store.front().reached) {
                if (!store.empty())
                    store.pop_front();
                return Error::with_message("서버에 연결하지 못했습니다");
            }
            Answer a = store.front();
            store.pop_front();
            api::StoreResult r;
            r.resultCode = a.code;
            r.resultData = a.data;
            return r;
        };
        h.owner_call = [this](std::string_view command, int grade) -> Result<api::OwnerResult> {
            sent.push_back(std::string(command) + " grade=" + std::to_string(grade));
            if (owner.empty())
                return Error::with_message("서버에 연결하지 못했습니다");
            Answer a = owner.front();
            owner.pop_front();
            api::OwnerResult r;
            r.resultCode = a.code;
            if (!a.data.empty())
                r.payload = SecretString(a.data);
            return r;
        };
        h.now_ms = [this] { return now; };
        return h;
    }
};

constexpr char const* base_settings = "[SERVER]\r\nhost=127.0.0.1\r\n[LOCK]\r\nmode=0\r\n";

class StaffLockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        session::reset();
        session::set_staff(7, 1001, "틸베이 한식당", false);
    }
    void TearDown() override { session::reset(); }

    void sign_in_owner()
    {
        session::OwnerRecord owner;
        owner.devkey = SecretString(std::string(64, 'a'));
        owner.deviv = SecretString(std::string(32, 'b'));
        owner.idx = 9;
        owner.storeidx = 7;
        session::set_owner(owner);
    }
    // As the owner: mode and PIN through setlock, then back to staff only.
    void set_local(int mode, std::string const& pin)
    {
        sign_in_owner();
        Page p;
        server.store.push_back({ .data = R"({"policy":1,"haspin":0})" });
        lock.setlock(std::to_string(mode), pin, p);
        session::clear_owner();
    }

    test::SettingsFile settings { base_settings };
    Server server;
    server::StaffLock lock { server.hooks() };
};

TEST_F(StaffLockTest, ModesDecideWhoMayActAndTheUnlockWindowLastsNinetySecondsInModeOneOnly)
{
    struct Case {
        int mode;
        bool owner;
        bool correct_pin_first;
        uint64_t later_ms;
        bool allowed;
    } const cases[] = {
        { 0, false, false, 0, true },
        { 1, false, false, 0, false },
        { 1, true, false, 0, true },
        { 1, false, true, 0, true },
        { 1, false, true, 89'999, true },
        { 1, false, true, 90'000, false },
        { 2, false, false, 0, false },
        { 2, false, true, 0, false }, // a PIN opens no window for the owner's actions
        { 2, true, false, 0, true },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " owner " + std::to_string(c.owner) + " +"
            + std::to_string(c.later_ms));
        server::StaffLock fresh(server.hooks());
        set_local(c.mode, "4821");
        if (c.correct_pin_first) {
            Page p;
            fresh.checkpin("4821", "drawer", "", p);
            ASSERT_TRUE(p.has(R"(lockResult(1,"drawer",""))"));
        }
        if (c.owner)
            sign_in_owner();
        server.now += c.later_ms;
        Page page;
        EXPECT_EQ(fresh.need_lock("editmenu", "41,7,1", page), c.allowed);
        if (!c.allowed)
            EXPECT_EQ(page.said, (std::vector<std::string> { "needLock(\"editmenu\"," + std::to_string(c.mode) + ",\"41,7,1\")" }));
        else
            EXPECT_TRUE(page.said.empty());
        session::clear_owner();
        server.now -= c.later_ms;
    }
}

TEST_F(StaffLockTest, SetlockChecksThePinAndRefusesModeOneWithoutOne)
{
    struct Case {
        char const* mode;
        char const* pin;
        char const* status;
        char const* stored_mode;
    } const cases[] = {
        { "1", "12a4", "status:PIN 은 숫자만", "0" },
        { "1", "123", "status:PIN 은 4~6자리", "0" },
        { "1", "1234567", "status:PIN 은 4~6자리", "0" },
        { "1", "", "status:먼저 «PIN 정하기» 로 번호를 정해 주세요", "0" },
        { "2", "", "status:현금서랍: 사장님만", "2" },
        { "7", "", "status:현금서랍: 누구나 엽니다", "0" },
        { "1", "123456", "status:현금서랍: 직원은 PIN", "1" },
    };
    sign_in_owner();
    for (auto const& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + "/" + c.pin);
        settings.write(base_settings);
        server.store.push_back({ .data = R"({"policy":2,"haspin":1})" });
        Page page;
        lock.setlock(c.mode, c.pin, page);
        ASSERT_FALSE(page.said.empty());
        EXPECT_EQ(page.said.front(), c.status);
        EXPECT_EQ(settings::read_text("LOCK", "mode", 8), c.stored_mode);
        EXPECT_TRUE(page.said.back().starts_with("setLock({\"mode\":" + std::string(c.stored_mode)));
    }
    session::clear_owner();
    Page staff;
    lock.setlock("2", "", staff);
    EXPECT_EQ(staff.said.front(), "status:직원 잠금은 사장님(가맹점) 로그인 뒤에 바꿀 수 있습니다");
}

TEST_F(StaffLockTest, FiveWrongPinsMakeTheNextAttemptsWaitThirtySeconds)
{
    set_local(1, "4821");
    for (int i = 0; i < 5; ++i) {
        Page p;
        lock.checkpin("0000", "drawer", "", p);
        EXPECT_EQ(p.said, (std::vector<std::string> { "status:PIN 이 틀립니다", "lockResult(0)" }));
        server.now += 1000;
    }
    // Within 30 seconds of the last failure even the right PIN is not looked at.
    server.now += 25'000;
    Page waiting;
    lock.checkpin("4821", "drawer", "", waiting);
    EXPECT_EQ(waiting.said, (std::vector<std::string> { "status:잠시 뒤 다시 시도하십시오", "lockResult(0)" }));
    server.now += 4'000;
    Page open;
    lock.checkpin("4821", "drawer", "", open);
    EXPECT_EQ(open.said, (std::vector<std::string> { R"(lockResult(1,"drawer",""))" }));
    // The count starts again after a success.
    Page again;
    lock.checkpin("0000", "drawer", "", again);
    lock.checkpin("4821", "drawer", "", again);
    EXPECT_EQ(again.said.back(), R"(lockResult(1,"drawer",""))");
}

TEST_F(StaffLockTest, ThePinIsStoredAsSaltAndHashTogetherOrNotAtAll)
{
    set_local(1, "4821");
    std::string salt = settings::read_text("LOCK", "salt", 40);
    std::string hash = settings::read_text("LOCK", "pin", 80);
    ASSERT_EQ(salt.size(), 16u);
    EXPECT_EQ(hash, server::pin_hash(salt, "4821"));
    EXPECT_EQ(settings.read().find("4821"), std::string::npos);

    // A settings file that cannot be replaced keeps the old PIN whole (the
    // temporary name taken by a folder fails the write, even for root).
    sign_in_owner();
    std::string blocker = settings.path() + ".tmp";
    ASSERT_EQ(mkdir(blocker.c_str(), 0700), 0);
    server.store.push_back({ .data = R"({"policy":1,"haspin":1})" });
    Page page;
    lock.setlock("1", "999999", page);
    rmdir(blocker.c_str());
    EXPECT_EQ(page.said.front(), "status:설정을 저장하지 못했습니다");
    EXPECT_EQ(settings::read_text("LOCK", "salt", 40), salt);
    EXPECT_EQ(settings::read_text("LOCK", "pin", 80), hash);
    session::clear_owner();
    Page check;
    lock.checkpin("4821", "drawer", "", check);
    EXPECT_EQ(check.said.back(), R"(lockResult(1,"drawer",""))");
}

TEST_F(StaffLockTest, SetpinSendsThePolicyReadFromTheServerAndRefusesWhileItIsUnknown)
{
    sign_in_owner();
    Page unknown;
    server.store.push_back({ .reached = false });
    server.store.push_back({ .reached = false }); // the closing getlock
    lock.setpin("4821", unknown);
    EXPECT_EQ(unknown.said.front(), std::string("status:") + server::lock_text::policy_unknown);
    for (auto const& sent : server.sent)
        EXPECT_FALSE(sent.starts_with("cmd=136")) << sent;

    server.sent.clear();
    server.store.push_back({ .data = R"({"policy":2,"haspin":0})" });
    server.store.push_back({ .data = R"({"policy":2,"haspin":1})" });
    server.store.push_back({ .data = R"({"policy":2,"haspin":1})" });
    Page page;
    lock.setpin("4821", page);
    ASSERT_GE(server.sent.size(), 2u);
    EXPECT_EQ(server.sent[1], "cmd=136&storeidx=7&policy=2&pin=4821");
    EXPECT_EQ(page.said.front(), "status:PIN 을 정했습니다");
    EXPECT_EQ(page.said.back(), R"(setLock({"mode":0,"haspin":1,"owner":1,"policy":2,"spin":1}))");

    // Policy 1 needs a PIN somewhere.
    server.sent.clear();
    server.store.push_back({ .data = R"({"policy":0,"haspin":0})" });
    server.store.push_back({ .data = R"({"policy":0,"haspin":0})" });
    Page first;
    lock.getlock(first);
    lock.setcancelpolicy("1", "", first);
    EXPECT_TRUE(first.has("status:먼저 «PIN 정하기» 로 번호를 정해 주세요"));
}

TEST_F(StaffLockTest, OwnerPasswordRulesAndTheWrongPasswordWait)
{
    sign_in_owner();
    struct Case {
        std::vector<std::string> args;
        char const* status;
    } const cases[] = {
        { { "setownerpw", "", "abcd123!" }, "status:지금 사장님 비밀번호를 입력하세요" },
        { { "setownerpw", "old", "abc12!" }, "status:새 비밀번호는 8~30자" },
        { { "setownerpw", "old", "abcd1234" }, "status:새 비밀번호에 영문·숫자·특수기호를 하나씩 이상 넣으세요" },
        { { "setownerpw", "old", "abcd 123!" }, "status:새 비밀번호는 영문·숫자·기호만 (띄어쓰기·한글과 & = < > % + 따옴표·역슬래시는 안 됩니다)" },
        { { "setownerpw", "abcd123!", "abcd123!" }, "status:지금 비밀번호와 같습니다. 다른 비밀번호를 정해 주세요" },
        { { "setownerpw", "a&b", "abcd123!" }, "status:사장님 비밀번호에 & 나 = 가 있으면 여기서는 보낼 수 없습니다" },
        { { "setownerpw", "a", "b", "c" }, "status:비밀번호에 </> 는 쓸 수 없습니다" },
    };
    for (auto const& c : cases) {
        Page page;
        server.store.push_back({ .reached = false });
        lock.setownerpw(bridge::Command { c.args }, page);
        EXPECT_EQ(page.said.front(), c.status);
        EXPECT_TRUE(page.has("ownerPwDone(0)"));
    }
    EXPECT_TRUE(std::none_of(server.sent.begin(), server.sent.end(), [](auto const& s) { return s.starts_with("cmd=6"); }));

    for (int i = 0; i < 5; ++i) {
        server.owner.push_back({ .code = "9822", .data = "지금 비밀번호가 맞지 않습니다" });
        server.store.push_back({ .reached = false });
        Page page;
        lock.setownerpw(bridge::Command { { "setownerpw", "wrong", "abcd123!" } }, page);
        EXPECT_EQ(page.said.front(), "status:지금 비밀번호가 맞지 않습니다");
    }
    EXPECT_EQ(server.sent.back(), "cmd=137&storeidx=7");
    EXPECT_NE(std::find(server.sent.begin(), server.sent.end(), "cmd=6&oldpw=wrong&newpw=abcd123! grade=7"), server.sent.end());
    size_t calls = server.sent.size();
    Page waiting;
    server.store.push_back({ .reached = false });
    lock.setownerpw(bridge::Command { { "setownerpw", "right", "abcd123!" } }, waiting);
    EXPECT_EQ(waiting.said.front(), "status:지금 비밀번호가 여러 번 틀렸습니다. 30초 뒤에 다시 하십시오");
    EXPECT_EQ(server.sent.size(), calls + 1); // only the closing getlock
    server.now += 30'000;
    server.owner.push_back({ .code = "0" });
    server.store.push_back({ .reached = false });
    Page done;
    lock.setownerpw(bridge::Command { { "setownerpw", "right", "abcd123!" } }, done);
    EXPECT_TRUE(done.has("ownerPwDone(1)"));
}

TEST(PinHash, ComparesInConstantTimeAndOnlyEqualTexts)
{
    EXPECT_TRUE(server::equal_in_constant_time("abc", "abc"));
    EXPECT_FALSE(server::equal_in_constant_time("abc", "abd"));
    EXPECT_FALSE(server::equal_in_constant_time("abc", "abcd"));
    EXPECT_EQ(server::pin_hash("00112233aabbccdd", "4821").size(), 64u);
    EXPECT_NE(server::pin_hash("00112233aabbccdd", "4821"), server::pin_hash("00112233aabbccde", "4821"));
}

} // namespace
