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

} // namespace e2e
