#include "door/door_routes.h"
#include "door/door_state.h"
#include "door/http_response.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace tillbay;
using namespace tillbay::door;

namespace {

constexpr char token[] = "ABCDEFGHJKLM";

os::net::Peer peer(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    os::net::Peer p;
    p.ipv4 = { a, b, c, d };
    p.is_ipv4 = true;
    p.text = std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
    return p;
}

int status_of(std::string const& answer) { return answer.size() > 12 ? std::stoi(answer.substr(9, 3)) : 0; }
std::string body_of(std::string const& answer)
{
    size_t at = answer.find("\r\n\r\n");
    return at == std::string::npos ? std::string {} : answer.substr(at + 4);
}

class DoorRoutesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_for_testing();
        m_root = std::filesystem::temp_directory_path() / ("tb-door-routes-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_root);
        std::filesystem::create_directories(m_root / "ui" / "merchant");
        write("ui/customer.html", "<!DOCTYPE html><html><HEAD><title>c</title></head><body></body></html>");
        write("ui/merchant/kds.html", "<html><body>no head</body></html>");
        write("ui/late.html", std::string(5000, ' ') + "<head></head>");
        write("ui/notes.txt", "text");
        write("ui/app.css", "body{}");
        write("outside.html", "<html>secret</html>");
        std::filesystem::create_symlink(m_root / "outside.html", m_root / "ui" / "link.html");
    }
    void TearDown() override { std::filesystem::remove_all(m_root); }

    void write(std::string const& rel, std::string const& text) { std::ofstream(m_root / rel, std::ios::binary) << text; }

    DoorHooks hooks()
    {
        DoorHooks h;
        h.token = [this] { return m_token; };
        h.signed_in_shop = [this]() -> std::optional<std::string> {
            if (!m_signed_in)
                return std::nullopt;
            return std::string("틸웨 분식");
        };
        h.ui_folders = [this] { return std::vector<std::string> { (m_root / "ui").string() }; };
        h.queue_command = [this](std::string c) { m_queued.push_back(std::move(c)); };
        h.now_ms = [this] { return m_now; };
        return h;
    }

    std::string ask(std::string const& request, os::net::Peer from = peer(192, 168, 0, 20))
    {
        return m_routes.answer(from, request, true).value_or("<none>");
    }
    std::string get(std::string const& target, std::string const& headers = "Cookie: ttk=ABCDEFGHJKLM\r\n")
    {
        return ask("GET " + target + " HTTP/1.1\r\nHost: pos\r\n" + headers + "\r\n");
    }
    std::string post(std::string const& body)
    {
        return ask("POST /act HTTP/1.1\r\nX-Tilla-Token: ABCDEFGHJKLM\r\nContent-Length: " + std::to_string(body.size())
            + "\r\n\r\n" + body);
    }

    std::filesystem::path m_root;
    std::string m_token = token;
    bool m_signed_in = true;
    uint64_t m_now = 100000;
    std::vector<std::string> m_queued;
    DoorRoutes m_routes { hooks() };
};

TEST_F(DoorRoutesTest, PingAnswersWithoutTokenButNeverOutsideThePrivateNetwork)
{
    auto answer = ask("GET /ping HTTP/1.1\r\n\r\n");
    EXPECT_EQ(status_of(answer), 200);
    EXPECT_EQ(body_of(answer), "{\"ok\":1,\"pos\":\"1.3.191\",\"store\":\"틸웨 분식\"}");
    // The fixed headers and an exact length on every answer.
    EXPECT_NE(answer.find("Content-Type: application/json; charset=UTF-8\r\n"), std::string::npos);
    EXPECT_NE(answer.find("Content-Length: " + std::to_string(body_of(answer).size()) + "\r\n"), std::string::npos);
    EXPECT_NE(answer.find("Cache-Control: no-store\r\nConnection: close\r\n"), std::string::npos);

    for (auto from : { peer(169, 254, 1, 1), peer(192, 0, 2, 7), peer(172, 32, 0, 1), peer(8, 8, 8, 8) }) {
        auto refused = ask("GET /ping HTTP/1.1\r\n\r\n", from);
        EXPECT_EQ(status_of(refused), 403) << from.text;
        EXPECT_EQ(body_of(refused), "{\"ok\":0,\"why\":\"사설망 밖\"}");
    }
    for (auto from : { peer(127, 0, 0, 1), peer(10, 1, 2, 3), peer(172, 16, 0, 1), peer(172, 31, 9, 9) })
        EXPECT_EQ(status_of(ask("GET /ping HTTP/1.1\r\n\r\n", from)), 200) << from.text;
}

TEST_F(DoorRoutesTest, PairingSetsTheCookieAndLeadsToTheChooser)
{
    EXPECT_EQ(status_of(get("/choose", "")), 401);
    auto pair = get("/pair?t=ABCDEFGHJKLM", "");
    EXPECT_EQ(status_of(pair), 302);
    EXPECT_NE(pair.find("Content-Type: text/plain\r\n"), std::string::npos);
    EXPECT_NE(pair.find("Location: /choose\r\nSet-Cookie: ttk=ABCDEFGHJKLM; Path=/; SameSite=Lax\r\n"), std::string::npos);
    auto chooser = get("/choose");
    EXPECT_EQ(status_of(chooser), 200);
    EXPECT_NE(chooser.find("주방 화면"), std::string::npos);
    EXPECT_EQ(chooser.find("Set-Cookie"), std::string::npos);
    EXPECT_EQ(status_of(get("/")), 200);
    // A wrong token pairs nothing and answers no cookie.
    auto wrong = get("/pair?t=ABCDEFGHJKLN", "");
    EXPECT_EQ(status_of(wrong), 401);
    EXPECT_EQ(wrong.find("Set-Cookie"), std::string::npos);
    // No token at all: nobody is served.
    m_token.clear();
    EXPECT_EQ(status_of(get("/pair?t=", "")), 401);
}

TEST_F(DoorRoutesTest, StateAnswers304ForItsETagAnd200AfterAChange)
{
    auto first = get("/state?t=ABCDEFGHJKLM", "");
    ASSERT_EQ(status_of(first), 200);
    EXPECT_EQ(body_of(first), "{\"s\":\"idle\"}");
    std::string etag = etag_of("{\"s\":\"idle\"}");
    // The cookie line comes before the ETag line.
    EXPECT_NE(first.find("Set-Cookie: ttk=ABCDEFGHJKLM; Path=/; SameSite=Lax\r\nETag: " + etag + "\r\n"), std::string::npos);

    auto again = get("/state", "Cookie: ttk=ABCDEFGHJKLM\r\nIf-None-Match: " + etag + "\r\n");
    EXPECT_EQ(status_of(again), 304);
    EXPECT_EQ(body_of(again), "");
    EXPECT_NE(again.find("Content-Type: application/json\r\n"), std::string::npos);
    EXPECT_NE(again.find("ETag: " + etag), std::string::npos);

    set_customer_state("{\"s\":\"order\",\"total\":9000}");
    auto changed = get("/state", "Cookie: ttk=ABCDEFGHJKLM\r\nif-none-match: " + etag + "\r\n");
    EXPECT_EQ(status_of(changed), 200);
    EXPECT_EQ(body_of(changed), "{\"s\":\"order\",\"total\":9000}");
    EXPECT_EQ(changed.find("Set-Cookie"), std::string::npos);
}

TEST_F(DoorRoutesTest, KitchenOrdersNeedASignedInPosAndAList)
{
    set_kitchen_list("{\"orders\":[{\"orderidx\":1}]}");
    m_signed_in = false;
    auto before = get("/kds/orders");
    EXPECT_EQ(status_of(before), 503);
    EXPECT_EQ(body_of(before), "{\"ok\":0,\"why\":\"POS 가 로그인돼 있지 않습니다\"}");
    m_signed_in = true;
    auto listed = get("/kds/orders");
    EXPECT_EQ(status_of(listed), 200);
    EXPECT_NE(listed.find("ETag: " + etag_of("{\"orders\":[{\"orderidx\":1}]}")), std::string::npos);
    set_kitchen_list("");
    EXPECT_EQ(body_of(get("/kds/orders")), "{\"ok\":0,\"why\":\"POS 가 아직 목록을 못 받았습니다\"}");
}

TEST_F(DoorRoutesTest, DoorCommandsAreCheckedThenQueued)
{
    struct Case {
        std::string body;
        int status;
        std::string answer;
    } const cases[] = {
        { "cookstart</>123", 200, "{\"ok\":1}" },
        { "servedone</>7", 200, "{\"ok\":1}" },
        { "cancelorder</>1", 403, "{\"ok\":0,\"why\":\"이 문으로는 못 하는 일입니다: cancelorder\"}" },
        { "cookstart</>12a", 400, "{\"ok\":0,\"why\":\"bad args\"}" },
        { std::string(65, 'a'), 400, "{\"ok\":0,\"why\":\"too long\"}" },
        { "cookstart</>1 2", 400, "{\"ok\":0,\"why\":\"bad chars\"}" },
        { "cookstart</>1\n", 400, "{\"ok\":0,\"why\":\"bad chars\"}" },
    };
    for (auto const& c : cases) {
        auto answer = post(c.body);
        EXPECT_EQ(status_of(answer), c.status) << c.body;
        EXPECT_EQ(body_of(answer), c.answer) << c.body;
    }
    EXPECT_EQ(m_queued, (std::vector<std::string> { "cookstart</>123", "servedone</>7" }));

    m_signed_in = false;
    EXPECT_EQ(body_of(post("cookstart</>1")), "{\"ok\":0,\"why\":\"POS 가 로그인돼 있지 않습니다\"}");
    EXPECT_EQ(status_of(ask("POST /other HTTP/1.1\r\nX-Tilla-Token: ABCDEFGHJKLM\r\n\r\n")), 404);
    EXPECT_EQ(status_of(ask("PUT /act HTTP/1.1\r\nX-Tilla-Token: ABCDEFGHJKLM\r\n\r\n")), 405);
    EXPECT_EQ(status_of(ask("POST /act HTTP/1.1\r\nContent-Length: 13\r\n\r\ncookstart</>1")), 401);
}

TEST_F(DoorRoutesTest, AWallOfTabletsRefreshesTheListOncePerPeriod)
{
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(status_of(post("refreshorders")), 200);
    m_now += refresh_interval_ms;
    EXPECT_EQ(status_of(post("refreshorders")), 200);
    EXPECT_EQ(m_queued, (std::vector<std::string> { "refreshorders", "refreshorders" }));
}

TEST_F(DoorRoutesTest, StaticFilesStayInsideTheReleaseFolder)
{
    struct Case {
        std::string path;
        int status;
        std::string body;
    } const cases[] = {
        { "/../outside.html", 400, "{\"ok\":0}" },
        { "/a\\b.html", 400, "{\"ok\":0}" },
        { "/c:/x.html", 400, "{\"ok\":0}" },
        // An empty segment would make the joined name absolute.
        { "//etc/passwd.html", 400, "{\"ok\":0}" },
        { "/merchant//kds.html", 400, "{\"ok\":0}" },
        { "/./customer.html", 400, "{\"ok\":0}" },
        { "/notes.txt", 404, "{\"ok\":0,\"why\":\"없는 파일\"}" },
        { "/Makefile", 404, "{\"ok\":0,\"why\":\"없는 파일\"}" },
        { "/missing.html", 404, "{\"ok\":0,\"why\":\"없는 파일\"}" },
        // A link leading out of the folder is not followed.
        { "/link.html", 404, "{\"ok\":0,\"why\":\"없는 파일\"}" },
        { "/merchant", 404, "{\"ok\":0,\"why\":\"없는 파일\"}" },
        { "/app.css", 200, "body{}" },
    };
    for (auto const& c : cases) {
        auto answer = get(c.path);
        EXPECT_EQ(status_of(answer), c.status) << c.path;
        EXPECT_EQ(body_of(answer), c.body) << c.path;
    }
    EXPECT_NE(get("/app.css").find("Content-Type: text/css; charset=UTF-8\r\n"), std::string::npos);
}

TEST_F(DoorRoutesTest, HtmlGetsTheTabletBridgeAfterItsHeadOrAtItsStart)
{
    std::string script = "<script>" + std::string(tablet_script()) + "</script>";
    auto customer = body_of(get("/customer.html?t=ABCDEFGHJKLM", ""));
    EXPECT_EQ(customer.find("<!DOCTYPE html><html><HEAD>" + script + "<title>"), 0u);
    EXPECT_EQ(body_of(get("/merchant/kds.html")).find(script + "<html>"), 0u);
    EXPECT_EQ(body_of(get("/late.html")).find(script), 0u);
    auto paired = get("/customer.html?t=ABCDEFGHJKLM", "");
    EXPECT_NE(paired.find("Set-Cookie: ttk=ABCDEFGHJKLM"), std::string::npos);
}

TEST_F(DoorRoutesTest, ReaderFailuresAreJudgedByTheirFirstBytes)
{
    auto from = peer(192, 168, 0, 9);
    EXPECT_EQ(m_routes.answer(from, "", true), std::string());
    EXPECT_EQ(m_routes.answer(from, std::string("\x16\x03\x01\x02\x00", 5), true), std::string());
    EXPECT_EQ(m_routes.answer(from, "GET /state HTTP/1.1\r\n", false), std::nullopt);
    auto garbage = m_routes.answer(from, "HELLO\x01\xff there\r\n\r\n", true).value_or("");
    EXPECT_EQ(status_of(garbage), 400);
    EXPECT_EQ(body_of(garbage), "{\"ok\":0,\"why\":\"bad request\"}");
    auto short_body = m_routes.answer(from, "POST /act HTTP/1.1\r\nContent-Length: 20\r\n\r\ncookstart", true);
    EXPECT_EQ(status_of(short_body.value_or("")), 400);
    EXPECT_TRUE(m_queued.empty());

    auto log = log_entries();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].what, "(빈 연결 — 브라우저가 미리 열어 둔 것, 정상)");
    EXPECT_EQ(log[1].what, "(https 로 들어옴 — 주소를 http:// 로 열어야 합니다)");
    EXPECT_EQ(log[2].what, "?? 못 읽음: HELLO.. there....");
    EXPECT_EQ(log[2].ip, "192.168.0.9");
}

TEST_F(DoorRoutesTest, TheLogKeepsTwentyPrintableEntries)
{
    for (int i = 0; i < 25; ++i)
        get("/state?n=" + std::to_string(i));
    // Raw LAN bytes: a control character, a broken sequence, and a Korean
    // character cut by the 60-byte limit.
    ask("POST /act HTTP/1.1\r\nX-Tilla-Token: x\r\nContent-Length: 17\r\n\r\nab\x01\xc3(가나다라");
    ask("GET /" + std::string(57, 'a') + "가 HTTP/1.1\r\n\r\n");
    auto log = log_entries();
    ASSERT_EQ(log.size(), max_log_entries);
    EXPECT_EQ(log[0].what, "GET /state");
    EXPECT_EQ(log[18].what, "POST /act ab.?(가나다라");
    EXPECT_EQ(log[19].what, "GET /" + std::string(55, 'a'));
    EXPECT_EQ(log[19].at.size(), 8u);
}

} // namespace
