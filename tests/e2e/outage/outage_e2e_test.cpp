// The board through an outage of the platform: with orders on the board the
// platform's API listener goes away; the board keeps its list read-only under
// the banner "연결 끊김 — HH:MM 기준" and refuses actions with the reason. The
// program is restarted during the outage: sign-in finds no server and the
// login page offers the kept list, which opens read-only. When the listener
// is back, the program returns to sign-in, and once signed in the board is
// live again without the banner.

#include "e2e_fixture.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

class OutageEndToEnd : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(m_at, "outage", e2e::ServedUi::Built)); }
    void TearDown() override
    {
        delete m_program;
        m_at.platform.stop();
    }

    void start()
    {
        delete m_program;
        m_program = e2e::start_program(m_at, {});
        ASSERT_TRUE(e2e::wait_for([&] { return on_page(1); }, 60s)) << doc() << e2e::read_text(m_at.pos_log);
        ASSERT_TRUE(e2e::wait_for(
            [&] {
                return value_of("typeof window.tillwave==='object'&&typeof window.setKeptBoard==='function'"
                                "&&document.readyState==='complete'")
                    == "true";
            },
            15s));
    }
    void sign_in()
    {
        EXPECT_EQ(value_of("document.getElementById('tabPos').click();document.getElementById('userId').value='tillbay01';"
                           "document.getElementById('userPw').value='pos1234!';"
                           "document.getElementById('loginForm').requestSubmit();true"),
            "true");
    }
    void listener(bool up)
    {
        auto answer = e2e::http(m_at.control, "POST", "/control/listeners",
            std::string(R"({"listener":"api","up":)") + (up ? "true" : "false") + "}");
        ASSERT_EQ(answer.status, 200) << answer.body;
    }
    long long create_order(std::string const& memo)
    {
        auto answer = e2e::http(m_at.control, "POST", "/control/orders",
            R"({"store":1,"kind":"table","table":5,"pay":"paid","memo":")" + memo
                + R"(","lines":[{"mname":"된장찌개","qty":1,"price":8000}]})");
        EXPECT_EQ(answer.status, 200) << answer.body;
        return std::atoll(e2e::json_field(answer.body, "orderidx").c_str());
    }
    bool card_shown(long long orderidx)
    {
        return value_of("!!document.querySelector('.card[data-orderidx=\"" + std::to_string(orderidx) + "\"]')") == "true";
    }
    bool banner_shown() { return value_of("!document.getElementById('outageBar').classList.contains('hidden')") == "true"; }
    std::string banner() { return value_of("document.getElementById('outageText').textContent"); }

    std::string doc() { return e2e::http(m_at.automation, "GET", "/doc").body; }
    bool on_page(int page_class)
    {
        std::string d = doc();
        return e2e::json_field(d, "class") == std::to_string(page_class) && e2e::json_field(d, "ready") == "true";
    }
    std::string value_of(std::string const& expression)
    {
        return e2e::json_field(e2e::http(m_at.automation, "POST", "/eval", expression).body, "value");
    }
    void snapshot(std::string const& name)
    {
        auto answer = e2e::http(m_at.automation, "GET", "/snapshot");
        EXPECT_EQ(answer.status, 200);
        e2e::write_text(m_at.artefacts + "/" + name + ".png", answer.body);
    }
    std::string log() { return e2e::read_text(m_at.bridge_log); }

    e2e::Installation m_at;
    e2e::Child* m_program = nullptr;
};

} // namespace

TEST_F(OutageEndToEnd, TheBoardOutlivesAnOutageAndARestart)
{
    ASSERT_NO_FATAL_FAILURE(start());
    sign_in();
    ASSERT_TRUE(e2e::wait_for([&] { return on_page(2); }, 30s)) << doc() << "\n" << log();
    // The board learns of the order through the push channel: it must be
    // registered before the order is made.
    ASSERT_TRUE(e2e::wait_for(
        [&] { return e2e::json_field(e2e::http(m_at.control, "GET", "/control/relay?store=1").body, "subscribers") == "1"; }, 15s))
        << log();
    long long first = create_order("보관 확인");
    ASSERT_TRUE(e2e::wait_for([&] { return card_shown(first); }, 20s)) << log();
    // The list is kept, readable by the user only.
    std::string kept = m_at.home + "/TillBay/board-1.json";
    ASSERT_TRUE(e2e::wait_for([&] { return e2e::read_text(kept).find("보관 확인") != std::string::npos; }, 10s));
    struct stat st {};
    ASSERT_EQ(::stat(kept.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The API listener goes away; the next reload (the page's own button
    // here) finds no server.
    ASSERT_NO_FATAL_FAILURE(listener(false));
    value_of("document.getElementById('refreshBtn').click();true");
    ASSERT_TRUE(e2e::wait_for([&] { return banner_shown(); }, 30s)) << log();
    EXPECT_TRUE(banner().starts_with("\"연결 끊김 — ")) << banner();
    EXPECT_NE(banner().find(" 기준"), std::string::npos) << banner();
    EXPECT_TRUE(card_shown(first)) << "the kept list stays on the board";
    std::string clock_before = value_of("document.getElementById('outageClock').textContent");
    ASSERT_TRUE(e2e::wait_for([&] { return value_of("document.getElementById('outageClock').textContent") != clock_before; }, 5s))
        << "the banner counts up";
    // An action is refused at once with the reason.
    value_of("TW.send('cancelorder','" + std::to_string(first) + "');true");
    EXPECT_NE(value_of("document.getElementById('statusLine').textContent").find("연결이 끊겨 지금은 주문을 처리할 수 없습니다"),
        std::string::npos);
    snapshot("outage-01-board");

    // A restart during the outage: sign-in finds no server and offers the
    // kept list, which opens read-only.
    ASSERT_NO_FATAL_FAILURE(start());
    sign_in();
    ASSERT_TRUE(e2e::wait_for(
        [&] { return value_of("!document.getElementById('keptBoardBtn').classList.contains('hidden')") == "true"; }, 40s))
        << log();
    snapshot("outage-02-login");
    value_of("document.getElementById('keptBoardBtn').click();true");
    ASSERT_TRUE(e2e::wait_for([&] { return on_page(2); }, 20s)) << doc() << "\n" << log();
    ASSERT_TRUE(e2e::wait_for([&] { return card_shown(first) && banner_shown(); }, 20s)) << log();
    snapshot("outage-03-kept");

    // The platform is back: the program returns to sign-in, and once signed
    // in the board is live, without the banner, with what happened meanwhile.
    long long second = create_order("돌아온 뒤");
    ASSERT_NO_FATAL_FAILURE(listener(true));
    ASSERT_TRUE(e2e::wait_for([&] { return on_page(1); }, 30s)) << doc() << "\n" << log();
    ASSERT_TRUE(e2e::wait_for([&] { return value_of("typeof window.setKeptBoard==='function'") == "true"; }, 10s));
    sign_in();
    ASSERT_TRUE(e2e::wait_for([&] { return on_page(2); }, 30s)) << doc() << "\n" << log();
    ASSERT_TRUE(e2e::wait_for([&] { return card_shown(second); }, 20s)) << log();
    EXPECT_FALSE(banner_shown());
    snapshot("outage-04-back");
}

TEST_F(OutageEndToEnd, ASignedInBoardReloadsAsSoonAsThePlatformIsBack)
{
    ASSERT_NO_FATAL_FAILURE(start());
    sign_in();
    ASSERT_TRUE(e2e::wait_for([&] { return on_page(2); }, 30s)) << doc() << "\n" << log();
    ASSERT_NO_FATAL_FAILURE(listener(false));
    value_of("document.getElementById('refreshBtn').click();true");
    ASSERT_TRUE(e2e::wait_for([&] { return banner_shown(); }, 30s)) << log();
    // An order placed during the outage shows up with the first reload that
    // reaches the platform again, with no one touching the board.
    long long during = create_order("끊긴 동안");
    ASSERT_NO_FATAL_FAILURE(listener(true));
    ASSERT_TRUE(e2e::wait_for([&] { return !banner_shown() && card_shown(during); }, 30s)) << log();
    EXPECT_NE(log().find("플랫폼 연결이 돌아와 주문 목록을 다시 받았다"), std::string::npos);
}
