// The customer display on a real second monitor, and what happens when that
// monitor goes away. An X server with the dummy video driver gives two RandR
// outputs the way a PC with two screens has them: the counter screen DUMMY0
// and the customer screen DUMMY1 beside it. Turning DUMMY1 off is the unplug;
// GTK reports it as a display change, and the window must close then, while
// the program keeps running and answering. Turning it back on reopens it.

#include "door_setup.h"

#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

// A shell command's output, its error output included.
std::string run(std::string const& command, int* status = nullptr)
{
    return e2e::command_output(command + " 2>&1", status);
}

constexpr char dummy_driver[] = "/usr/lib/xorg/modules/drivers/dummy_drv.so";
constexpr char window_title[] = "틸웨 손님 화면";

class CustomerMonitor : public e2e::ProgramTest<CustomerMonitor> {
protected:
    static void SetUpTestSuite()
    {
        struct stat info {};
        if (run("command -v Xorg").empty() || ::stat(dummy_driver, &info) != 0) {
            s_skip = "Xorg with the dummy video driver is not installed";
            return;
        }
        ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(s_at, "door", e2e::ServedUi::Built));
        if (!start_x_server())
            return;
        // Two screens side by side, as the shop plugs them in.
        ASSERT_TRUE(xrandr("--output DUMMY0 --mode 1920x1080 --primary"));
        ASSERT_TRUE(xrandr("--addmode DUMMY1 1280x720"));
        ASSERT_TRUE(plug_in());

        s_port = e2e::switch_door_on(s_at);
        auto start = [] { return e2e::start_program(s_at, s_display); };
        ASSERT_NO_FATAL_FAILURE(start_to_sign_in(start));
        ASSERT_NO_FATAL_FAILURE(restart_if_updated(start));
        // Signed in, as a counter is when it shows customers their order.
        ASSERT_NO_FATAL_FAILURE(e2e::sign_in_counter(s_at));
        ASSERT_NO_FATAL_FAILURE(e2e::read_door_token(s_at, s_token));
    }

    static void TearDownTestSuite()
    {
        delete s_program;
        s_program = nullptr;
        s_x_server.stop();
        s_at.platform.stop();
    }

    void SetUp() override
    {
        if (!s_skip.empty())
            GTEST_SKIP() << s_skip;
    }

    // The dummy driver's server on a display number nobody holds; a skip
    // with its log when this machine does not let it start (it needs root).
    static bool start_x_server()
    {
        int number = 0;
        for (int candidate = 140; candidate < 200 && number == 0; ++candidate) {
            struct stat info {};
            std::string lock = "/tmp/.X" + std::to_string(candidate) + "-lock";
            std::string socket = "/tmp/.X11-unix/X" + std::to_string(candidate);
            if (::stat(lock.c_str(), &info) != 0 && ::stat(socket.c_str(), &info) != 0)
                number = candidate;
        }
        s_display = ":" + std::to_string(number);
        std::string config = s_at.root + "/xorg-dummy.conf";
        e2e::write_text(config,
            "Section \"Device\"\n  Identifier \"dummy\"\n  Driver \"dummy\"\n  VideoRam 256000\nEndSection\n"
            "Section \"Monitor\"\n  Identifier \"screen\"\n  HorizSync 5.0-1000.0\n  VertRefresh 5.0-200.0\nEndSection\n"
            "Section \"Screen\"\n  Identifier \"screen\"\n  Device \"dummy\"\n  Monitor \"screen\"\n  DefaultDepth 24\n"
            "  SubSection \"Display\"\n    Depth 24\n    Virtual 4096 2160\n  EndSubSection\nEndSection\n"
            "Section \"ServerFlags\"\n  Option \"AutoAddDevices\" \"false\"\n  Option \"AutoEnableDevices\" \"false\"\n"
            "EndSection\n");
        std::string log = s_at.root + "/xorg.log";
        s_x_server = e2e::Child::start({ "Xorg", s_display, "-config", config, "-noreset", "-nolisten", "tcp",
                                           "-logfile", log },
            {}, s_at.root + "/xorg.out");
        if (!e2e::wait_for([] { return xrandr("--listmonitors"); }, 20s)) {
            s_skip = "the X server with the dummy driver did not start here: " + e2e::read_text(s_at.root + "/xorg.out");
            s_x_server.stop();
            return false;
        }
        return true;
    }

    static bool xrandr(std::string const& args)
    {
        int status = -1;
        run("DISPLAY=" + s_display + " xrandr " + args, &status);
        return status == 0;
    }
    // The dummy driver reports an output connected once it has a mode; the
    // query after it makes the server probe the outputs again, as it does
    // when a real screen is plugged in.
    static bool plug_in() { return xrandr("--output DUMMY1 --mode 1280x720 --right-of DUMMY0") && xrandr(""); }
    static bool unplug() { return xrandr("--output DUMMY1 --off"); }

    // The customer window as the X server has it: "x,y wxh" of the mapped
    // window with the program's title, empty when there is none.
    static std::string customer_window()
    {
        std::string ids = run("DISPLAY=" + s_display + " xdotool search --onlyvisible --name '" + window_title + "'");
        std::smatch m;
        if (!std::regex_search(ids, m, std::regex("^([0-9]+)$", std::regex::multiline)))
            return {};
        std::string geometry = run("DISPLAY=" + s_display + " xdotool getwindowgeometry " + std::string(m[1]));
        std::smatch p, g;
        if (!std::regex_search(geometry, p, std::regex("Position: (-?[0-9]+),(-?[0-9]+)"))
            || !std::regex_search(geometry, g, std::regex("Geometry: ([0-9]+)x([0-9]+)")))
            return {};
        return std::string(p[1]) + "," + std::string(p[2]) + " " + std::string(g[1]) + "x" + std::string(g[2]);
    }
    static size_t count_in_log(std::string const& text)
    {
        std::string log = e2e::read_text(s_at.bridge_log);
        size_t count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size()))
            ++count;
        return count;
    }

    static inline std::string s_skip;
    static inline e2e::Child s_x_server;
    static inline std::string s_display;
    static inline int s_port = 0;
    static inline std::string s_token;
};

TEST_F(CustomerMonitor, TheWindowFollowsTheSecondMonitorOutAndBackIn)
{
    // At start the customer window fills the second monitor.
    ASSERT_TRUE(e2e::wait_for([] { return count_in_log("CUST 손님 창 1280x720 @1920,0") == 1; }, 20s))
        << run("DISPLAY=" + s_display + " xrandr --listmonitors") << e2e::read_text(s_at.bridge_log);
    ASSERT_TRUE(e2e::wait_for([] { return customer_window() == "1920,0 1280x720"; }, 15s)) << customer_window();
    ASSERT_TRUE(e2e::wait_for([] { return value_of("document.readyState", "/customer/eval") == "\"complete\""; }, 20s));

    // The monitor is unplugged: the window closes at the display change.
    ASSERT_TRUE(unplug());
    EXPECT_TRUE(e2e::wait_for([] { return count_in_log("CUST 손님 창 닫음") == 1; }, 15s)) << e2e::read_text(s_at.bridge_log);
    EXPECT_TRUE(e2e::wait_for([] { return customer_window().empty(); }, 10s)) << customer_window();
    // The program keeps running: the counter page and the door both answer,
    // and what the counter shows the customer still reaches the tablets.
    ASSERT_TRUE(s_program->running());
    EXPECT_TRUE(on_page(2));
    EXPECT_NE(e2e::http(s_port, "GET", "/ping").body.find("\"ok\":1"), std::string::npos);
    EXPECT_EQ(value_of("TW.send('custshow',JSON.stringify({s:'pay',amount:3500,url:'https://pay.example/p/2',"
                       "expires:Date.now()+300000}));true"),
        "true");
    EXPECT_TRUE(e2e::wait_for(
        [] { return e2e::http(s_port, "GET", "/state?t=" + s_token).body.find("\"amount\":3500") != std::string::npos; }, 10s))
        << e2e::http(s_port, "GET", "/state?t=" + s_token).body;

    // Plugged back in: the window returns on it, with what the customer
    // should see now.
    ASSERT_TRUE(plug_in());
    EXPECT_TRUE(e2e::wait_for([] { return count_in_log("CUST 손님 창 1280x720 @1920,0") == 2; }, 15s))
        << e2e::read_text(s_at.bridge_log);
    EXPECT_TRUE(e2e::wait_for([] { return customer_window() == "1920,0 1280x720"; }, 15s)) << customer_window();
    EXPECT_TRUE(e2e::wait_for(
        [] { return value_of("document.getElementById('payAmount').textContent", "/customer/eval") == "\"3,500원\""; }, 20s))
        << value_of("document.getElementById('payAmount').textContent", "/customer/eval");
    auto shot = e2e::http(s_at.automation, "GET", "/customer/snapshot");
    EXPECT_EQ(shot.status, 200);
    e2e::write_text(s_at.artefacts + "/07-customer-monitor-replugged.png", shot.body);
}

} // namespace
