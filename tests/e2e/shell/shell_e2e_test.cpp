// The real program under Xvfb against the reference platform: the sign-in
// page appears, a staff sign-in typed into it lands on the order board with
// the store name and the version line, a wrong password shows the server's
// message, and the bridge log keeps the commands with the password masked.

#include "e2e_fixture.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

class ShellEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The web host serves the built UI bundle, the one the installation
        // has, so the update check finds nothing new to hold the sign-in for.
        ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(s_at, "shell", e2e::ServedUi::Built));
        s_program = e2e::start_program(s_at, {});
        // The first start already has a usable sign-in page: the web host's
        // bundle is the installation's, so the update check holds nothing.
        ASSERT_TRUE(e2e::wait_for([] { return on_page(1); }, 45s)) << doc() << e2e::read_text(s_at.pos_log);
        ASSERT_TRUE(e2e::wait_for([] { return e2e::read_text(s_at.bridge_log).find("UPD 상태 정상") != std::string::npos; }, 20s))
            << e2e::read_text(s_at.bridge_log);
        EXPECT_EQ(e2e::read_text(s_at.bridge_log).find("UPD 상태 app-"), std::string::npos) << e2e::read_text(s_at.bridge_log);
        EXPECT_EQ(e2e::read_text(s_at.bridge_log).find("UPD 상태 ui-"), std::string::npos) << e2e::read_text(s_at.bridge_log);
    }

    static void TearDownTestSuite()
    {
        delete s_program;
        s_program = nullptr;
        s_at.platform.stop();
    }

    static std::string doc() { return e2e::http(s_at.automation, "GET", "/doc").body; }

    // The page of that class is on screen and its document is the one the
    // program navigated to. Right after the program asks for a page, the web
    // view already reports the new address while the record still describes
    // the document being left (ready, old expected address); only the address
    // check tells the two apart, as it does for the bridge.
    static bool on_page(int page_class)
    {
        std::string d = doc();
        return e2e::json_field(d, "class") == std::to_string(page_class) && e2e::json_field(d, "ready") == "true"
            && !e2e::json_field(d, "url").empty() && e2e::json_field(d, "url") == e2e::json_field(d, "expected");
    }

    static std::string eval(std::string const& script)
    {
        auto answer = e2e::http(s_at.automation, "POST", "/eval", script);
        return answer.body;
    }

    // The value of an expression in the page, as JSON text.
    static std::string value_of(std::string const& expression)
    {
        return e2e::json_field(eval(expression), "value");
    }

    static void snapshot(std::string const& name)
    {
        auto answer = e2e::http(s_at.automation, "GET", "/snapshot");
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body.substr(1, 3), "PNG");
        e2e::write_text(s_at.artefacts + "/" + name + ".png", answer.body);
    }

    static void ensure_login_page()
    {
        if (!e2e::wait_for([] { return on_page(1) || on_page(2); }, 45s))
            FAIL() << "no page: " << doc() << "\n" << e2e::read_text(s_at.pos_log) << e2e::read_text(s_at.bridge_log);
        if (on_page(2)) {
            eval("TW.send('logout'); true");
            ASSERT_TRUE(e2e::wait_for([] { return on_page(1); }, 20s)) << doc();
        }
        // The page script runs once the document is ready; wait for its bridge.
        ASSERT_TRUE(e2e::wait_for([] { return value_of("typeof window.tillwave") == "\"object\""; }, 10s));
    }

    static void type_sign_in(std::string const& id, std::string const& password)
    {
        std::string script = "document.getElementById('tabPos').click();"
                             "document.getElementById('userId').value='"
            + id + "';document.getElementById('userPw').value='" + password
            + "';document.getElementById('loginForm').requestSubmit();true";
        EXPECT_EQ(value_of(script), "true");
    }

    static inline e2e::Installation s_at;
    static inline e2e::Child* s_program = nullptr;
};

TEST_F(ShellEndToEnd, SignInPageAppearsWithTheVersionLine)
{
    ensure_login_page();
    // The version line arrives with the page set-up after the navigation.
    EXPECT_TRUE(e2e::wait_for([] { return value_of("document.getElementById('version').textContent").find("v1.3.191") != std::string::npos; }, 10s));
    EXPECT_EQ(value_of("document.title"), "\"TILLWAVE POS 로그인\"");
    // The document record names the login file page of the installation's bundle.
    EXPECT_NE(e2e::json_field(doc(), "url").find("/login.html"), std::string::npos);
    snapshot("01-login");
}

TEST_F(ShellEndToEnd, WrongPasswordShowsTheServersMessage)
{
    ensure_login_page();
    type_sign_in("tillbay01", "wrong-pass");
    ASSERT_TRUE(e2e::wait_for([] { return value_of("document.getElementById('loginError').textContent") != "\"\""; }, 20s));
    EXPECT_EQ(value_of("document.getElementById('loginError').textContent"), "\"아이디 또는 비밀번호가 맞지 않습니다\"");
    EXPECT_EQ(value_of("document.getElementById('loginError').classList.contains('hidden')"), "false");
    // The button is usable again after the answer.
    EXPECT_EQ(value_of("document.getElementById('loginBtn').disabled"), "false");
    EXPECT_TRUE(on_page(1));
    snapshot("02-wrong-password");
}

TEST_F(ShellEndToEnd, StaffSignInLandsOnTheOrderBoard)
{
    ensure_login_page();
    type_sign_in("tillbay01", "pos1234!");
    ASSERT_TRUE(e2e::wait_for([] { return on_page(2); }, 20s)) << doc() << "\n" << e2e::read_text(s_at.bridge_log);
    EXPECT_TRUE(e2e::wait_for([] { return value_of("document.getElementById('storeName').textContent") == "\"틸베이 한식당\""; }, 10s))
        << value_of("document.getElementById('storeName').textContent");
    EXPECT_TRUE(e2e::wait_for([] { return value_of("document.getElementById('version').textContent").find("v1.3.191  ·  화면") != std::string::npos; }, 10s));
    snapshot("03-orders");

    // The bridge log shows the sign-in command with its password masked.
    std::string log = e2e::read_text(s_at.bridge_log);
    EXPECT_NE(log.find("<<UI login</>tillbay01</>"), std::string::npos) << log;
    EXPECT_EQ(log.find("pos1234!"), std::string::npos);
    EXPECT_EQ(log.find("wrong-pass"), std::string::npos);
}

TEST_F(ShellEndToEnd, PagesCannotLeaveForForeignAddresses)
{
    ensure_login_page();
    std::string before = doc();
    eval("location.href='http://example.invalid/'; true");
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(on_page(1)) << doc();
    EXPECT_EQ(e2e::json_field(doc(), "generation"), e2e::json_field(before, "generation"));
    EXPECT_NE(e2e::read_text(s_at.bridge_log).find("SEC 차단: navigation"), std::string::npos);

    eval("window.open('http://example.invalid/'); true");
    EXPECT_TRUE(e2e::wait_for([] { return e2e::read_text(s_at.bridge_log).find("SEC 차단: new window") != std::string::npos; }, 5s));
    // A message posted as an object is refused before the bridge sees it.
    eval("window.chrome.webview.postMessage({a:1}); true");
    EXPECT_TRUE(e2e::wait_for([] { return e2e::read_text(s_at.bridge_log).find("SEC 차단: non-string message") != std::string::npos; }, 5s));
}

} // namespace
