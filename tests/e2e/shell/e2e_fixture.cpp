#include "e2e_fixture.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace e2e {

void set_up_installation(Installation& at, std::string const& name, ServedUi ui)
{
    using namespace std::chrono_literals;
    char const* build = std::getenv("TB_BUILD_DIR");
    ASSERT_TRUE(build && *build) << "TB_BUILD_DIR is not set";
    at.build = build;
    at.artefacts = at.build + "/tests/e2e/" + name + "/artefacts";
    ::mkdir(at.artefacts.c_str(), 0755);
    at.root = make_temp_dir("tb-e2e-" + name);
    ASSERT_FALSE(at.root.empty());
    at.pos = at.root + "/pos";
    at.home = at.root + "/home";
    ::mkdir(at.home.c_str(), 0755);

    int api = free_port(), relay = free_port(), web = free_port();
    at.control = free_port();
    std::string platform = at.build + "/tools/platform/tillbay-platform";
    std::string init_log = at.root + "/init.log";
    auto init = Child::start({ platform, "init", at.pos, "--api-port", std::to_string(api), "--relay-port",
                                 std::to_string(relay), "--web-port", std::to_string(web) },
        {}, init_log);
    ASSERT_TRUE(wait_for([&] { return !init.running(); }, 20s));
    ASSERT_NE(read_text(at.pos + "/tillbay.ini").find("[SERVER]"), std::string::npos) << read_text(init_log);

    // The installation folder, laid out as dist/: the program, its
    // web-process extension and the installation copy of the UI.
    ASSERT_TRUE(copy_file(at.build + "/app/tillbay", at.pos + "/tillbay", true));
    ASSERT_TRUE(copy_dir_files(at.build + "/app/webext", at.pos + "/webext"));
    ASSERT_TRUE(copy_dir_files(at.build + "/ui-bundle", at.pos));
    std::string served = at.build + "/ui-bundle";
    if (ui == ServedUi::Copy) {
        served = at.root + "/ui";
        ASSERT_TRUE(copy_dir_files(at.build + "/ui-bundle", served));
    }

    at.platform_log = at.root + "/platform.log";
    at.platform = Child::start({ platform, "serve", "--data", at.pos + "/platform-data", "--api-port",
                                   std::to_string(api), "--relay-port", std::to_string(relay), "--web-port",
                                   std::to_string(web), "--control-port", std::to_string(at.control), "--ui", served },
        {}, at.platform_log);
    ASSERT_TRUE(wait_for([&] { return read_text(at.platform_log).find("ready") != std::string::npos; }, 20s))
        << read_text(at.platform_log);

    at.automation = free_port();
    at.pos_log = at.root + "/tillbay.log";
    at.bridge_log = at.home + "/TillBay/bridge.log";
}

Child* start_program(Installation const& at, std::string const& display, std::vector<std::string> const& extra_env)
{
    // No session bus on purpose: the program must start without a tray host.
    std::vector<std::string> env { "LOCALAPPDATA=" + at.home, "TILLBAY_TESTPORT=" + std::to_string(at.automation),
        "WEBKIT_DISABLE_COMPOSITING_MODE=1", "NO_AT_BRIDGE=1", "DBUS_SESSION_BUS_ADDRESS=" };
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    std::vector<std::string> argv { at.pos + "/tillbay" };
    if (display.empty())
        argv.insert(argv.begin(), { "xvfb-run", "-a", "-s", "-screen 0 1400x900x24" });
    else
        env.push_back("DISPLAY=" + display);
    return new Child(Child::start(argv, env, at.pos_log));
}

std::string page_record(Installation const& at) { return http(at.automation, "GET", "/doc").body; }

bool shows_page(Installation const& at, int page_class)
{
    std::string record = page_record(at);
    return json_field(record, "class") == std::to_string(page_class) && json_field(record, "ready") == "true";
}

std::string script_value(Installation const& at, std::string const& expression, std::string const& endpoint)
{
    return json_field(http(at.automation, "POST", endpoint, expression).body, "value");
}

void save_snapshot(Installation const& at, std::string const& name, std::string const& endpoint)
{
    auto answer = http(at.automation, "GET", endpoint);
    EXPECT_EQ(answer.status, 200);
    write_text(at.artefacts + "/" + name + ".png", answer.body);
}

void start_to_sign_in(Installation const& at, Child*& program, std::function<Child*()> const& start)
{
    using namespace std::chrono_literals;
    program = start();
    ASSERT_TRUE(wait_for([&] { return shows_page(at, 1); }, 45s)) << page_record(at) << read_text(at.pos_log);
}

void restart_if_updated(Installation const& at, Child*& program, std::function<Child*()> const& start)
{
    using namespace std::chrono_literals;
    if (wait_for(
            [&] { return read_text(at.bridge_log).find("UPD 상태 app-ready") != std::string::npos; }, 5s)) {
        delete program;
        program = start();
        ASSERT_TRUE(wait_for([&] { return shows_page(at, 1); }, 45s)) << page_record(at);
    }
}

void sign_in_counter(Installation const& at, std::chrono::seconds board_limit)
{
    using namespace std::chrono_literals;
    // The bridge object comes with the page script at document start; the
    // sign-in form is ready once the page's own script has run.
    ASSERT_TRUE(wait_for(
        [&] {
            return script_value(at,
                       "typeof window.tillwave==='object'&&typeof window.setLoginMode==='function'"
                       "&&document.readyState==='complete'")
                == "true";
        },
        10s));
    EXPECT_EQ(
        script_value(at,
            "document.getElementById('tabPos').click();document.getElementById('userId').value='tillbay01';"
            "document.getElementById('userPw').value='pos1234!';"
            "document.getElementById('loginForm').requestSubmit();true"),
        "true");
    ASSERT_TRUE(wait_for([&] { return shows_page(at, 2); }, board_limit)) << page_record(at) << "\n"
                                                                          << read_text(at.bridge_log);
}

void sign_in_owner(Installation const& at)
{
    using namespace std::chrono_literals;
    script_value(at, "tillwave.viewinfo('merchlogin</>owner01</>owner1234!');true");
    ASSERT_TRUE(wait_for(
        [&] { return read_text(at.bridge_log).find("가맹점 로그인 완료") != std::string::npos; }, 10s))
        << read_text(at.bridge_log);
}

} // namespace e2e
