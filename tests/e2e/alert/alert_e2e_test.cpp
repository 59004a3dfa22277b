// The new-order alert of the real program on a real X server: while another
// program has the focus, a customer order placed through the platform makes
// the badge window appear at the top right with the order, the repeated
// sound is counted, the badge goes back to the waiting count when the flash
// ends, a drag moves it and keeps its place in the settings file, and a click
// on the badge brings the POS to the front and hides it.
// The X server is asked directly (xdotool, xwininfo, ImageMagick), not the
// program, and screenshots are kept.

#include "e2e_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Runs a shell command on the test's X display and gives its standard output.
std::string x_command(std::string const& display, std::string const& command)
{
    std::string out = e2e::command_output("DISPLAY=" + display + " " + command + " 2>/dev/null");
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

// A display number nobody uses.
int free_display()
{
    for (int n = 90 + static_cast<int>(::getpid() % 200);; ++n) {
        std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
        std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
        struct stat st;
        if (::stat(lock.c_str(), &st) != 0 && ::stat(socket.c_str(), &st) != 0)
            return n;
    }
}

int number_after(std::string const& text, std::string const& label)
{
    auto at = text.find(label);
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + label.size());
}

// The integer value of a key of the settings file, whatever spacing the
// writer keeps around the "=".
int ini_number(std::string const& text, std::string const& key)
{
    auto at = text.find("\n" + key);
    if (at == std::string::npos)
        return -1;
    at += key.size() + 1;
    while (at < text.size() && (text[at] == ' ' || text[at] == '='))
        ++at;
    return std::atoi(text.c_str() + at);
}

class AlertEndToEnd : public e2e::ProgramTest<AlertEndToEnd> {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(s_at, "alert", e2e::ServedUi::Copy));

        // An X server of our own, so that the test can look at the windows on it.
        int display = free_display();
        s_display = ":" + std::to_string(display);
        s_xvfb = new e2e::Child(e2e::Child::start(
            { "Xvfb", s_display, "-screen", "0", "1400x900x24", "-nolisten", "tcp", "-ac" }, {}, s_at.root + "/xvfb.log"));
        std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
        ASSERT_TRUE(e2e::wait_for([&] { struct stat st; return ::stat(socket.c_str(), &st) == 0; }, 10s))
            << e2e::read_text(s_at.root + "/xvfb.log");

        auto start_program = [] { return e2e::start_program(s_at, s_display); };
        ASSERT_NO_FATAL_FAILURE(start_to_sign_in(start_program));
        ASSERT_NO_FATAL_FAILURE(restart_if_updated(start_program));
    }

    static void TearDownTestSuite()
    {
        delete s_other;
        delete s_program;
        delete s_xvfb;
        s_other = s_program = s_xvfb = nullptr;
        s_at.platform.stop();
    }

    // The alert's own report, as the page receives it: "front=0 badge=1 ...".
    static std::string notify_state()
    {
        value_of("window.__alertState='';window.setNotifyState=function(s){"
                 "window.__alertState=Object.keys(s).map(function(k){return k+'='+s[k]}).join(' ')};"
                 "TW.send('notifystate');true");
        std::string state;
        e2e::wait_for(
            [&] {
                state = value_of("window.__alertState");
                return state.size() > 2;
            },
            5s);
        return state;
    }

    static bool state_has(std::string const& part) { return notify_state().find(part) != std::string::npos; }

    static void screenshot(std::string const& name)
    {
        std::string path = s_at.artefacts + "/" + name + ".png";
        x_command(s_display, "import -window root '" + path + "'");
        struct stat st;
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << "no screenshot " << path;
    }

    // The colour of one pixel of the screen as "r,g,b".
    static std::string pixel(int x, int y)
    {
        std::string text = x_command(s_display,
            "import -window root -crop 1x1+" + std::to_string(x) + "+" + std::to_string(y) + " -depth 8 txt:-");
        auto open = text.find('(', text.find('\n'));
        auto close = text.find(')', open);
        if (open == std::string::npos || close == std::string::npos)
            return text;
        std::string rgb = text.substr(open + 1, close - open - 1);
        std::string compact;
        for (char c : rgb)
            if (c != ' ')
                compact += c;
        return compact;
    }

    static inline std::string s_display;
    static inline e2e::Child* s_xvfb = nullptr;
    static inline e2e::Child* s_other = nullptr;
};

TEST_F(AlertEndToEnd, NewOrderWhileCoveredShowsTheBadgeUntilThePosIsBroughtBack)
{
    // Staff sign-in lands on the order board, once the sign-in page's own
    // script has taken over its form.
    ASSERT_TRUE(e2e::wait_for(
        [] {
            return value_of("typeof window.tillwave==='object'&&typeof window.setLoginMode==='function'"
                            "&&document.readyState==='complete'")
                == "true";
        },
        15s));
    value_of("document.getElementById('tabPos').click();document.getElementById('userId').value='tillbay01';"
             "document.getElementById('userPw').value='pos1234!';document.getElementById('loginForm').requestSubmit();true");
    ASSERT_TRUE(e2e::wait_for([] { return on_page(2); }, 30s)) << doc() << e2e::read_text(s_at.bridge_log);
    ASSERT_TRUE(e2e::wait_for([] { return value_of("typeof window.tillwave") == "\"object\""; }, 10s));

    // The POS has the focus: no badge.
    ASSERT_TRUE(e2e::wait_for([] { return state_has("front=1"); }, 10s)) << notify_state();
    EXPECT_TRUE(state_has("badge=0"));

    // Another program takes the focus.
    s_other = new e2e::Child(e2e::Child::start({ "xmessage", "-geometry", "360x120+40+300", "another program" },
        { "DISPLAY=" + s_display }, s_at.root + "/xmessage.log"));
    std::string other;
    ASSERT_TRUE(e2e::wait_for(
        [&] {
            other = x_command(s_display, "xdotool search --onlyvisible --class Xmessage");
            return !other.empty();
        },
        10s));
    other = other.substr(0, other.find('\n'));
    x_command(s_display, "xdotool windowraise " + other + " windowfocus " + other);
    ASSERT_TRUE(e2e::wait_for([] { return state_has("front=0"); }, 10s)) << notify_state();
    // Behind another program the badge shows the waiting count at once.
    EXPECT_TRUE(e2e::wait_for([] { return state_has("badge=1"); }, 5s)) << notify_state();

    // A customer orders at table 3.
    auto placed = e2e::http(s_at.control, "POST", "/control/orders",
        R"({"store":1,"kind":"table","table":3,"pay":"paid","lines":[{"menuidx":101,"qty":2}]})");
    ASSERT_EQ(placed.status, 200) << placed.body;

    ASSERT_TRUE(e2e::wait_for([] { return state_has("alert=1"); }, 20s)) << notify_state() << e2e::read_text(s_at.bridge_log);
    std::string state = notify_state();
    EXPECT_NE(state.find("unseen=1"), std::string::npos) << state;
    EXPECT_NE(state.find("badge=1"), std::string::npos) << state;
    EXPECT_GE(number_after(state, "wait="), 1) << state;

    // The X server has the badge: mapped, the badge's size, top right.
    std::string badge = x_command(s_display, "xdotool search --onlyvisible --classname TillBayBadge");
    ASSERT_FALSE(badge.empty()) << x_command(s_display, "xwininfo -root -tree");
    badge = badge.substr(0, badge.find('\n'));
    std::string info = x_command(s_display, "xwininfo -id " + badge);
    EXPECT_NE(info.find("틸웨 알림"), std::string::npos) << info;
    int x = number_after(info, "Absolute upper-left X:");
    int y = number_after(info, "Absolute upper-left Y:");
    EXPECT_EQ(number_after(info, "Width:"), 214) << info;
    EXPECT_EQ(number_after(info, "Height:"), 66) << info;
    EXPECT_EQ(x, 1400 - 12 - 214) << info;
    EXPECT_EQ(y, 12) << info;
    // Painted in the alert colours (red, or its brighter flash).
    std::string colour = pixel(x + 6, y + 40);
    EXPECT_TRUE(colour == "168,24,24" || colour == "206,36,36") << colour;
    // The rounded outline cuts the corner away.
    EXPECT_NE(pixel(x, y), colour);
    screenshot("01-new-order-badge");

    // The sound repeats ten seconds after the alert start; the flash ends at
    // fifteen, and the badge shows the waiting count in its resting colours.
    EXPECT_TRUE(e2e::wait_for([] { return number_after(notify_state(), "beeps=") >= 1; }, 14s)) << notify_state();
    EXPECT_TRUE(e2e::wait_for([] { return state_has("alert=0"); }, 10s)) << notify_state();
    state = notify_state();
    EXPECT_NE(state.find("unseen=1"), std::string::npos) << "the sound goes on after the flash: " << state;
    EXPECT_EQ(pixel(x + 6, y + 40), "30,36,52");
    screenshot("02-waiting-count");

    // Dragging moves the badge and keeps the place in the settings file.
    x_command(s_display, "xdotool mousemove " + std::to_string(x + 100) + " " + std::to_string(y + 30)
            + " mousedown 1 mousemove " + std::to_string(x + 60) + " " + std::to_string(y + 50) + " mouseup 1");
    std::string ini_path = s_at.root + "/pos/tillbay.ini";
    EXPECT_TRUE(e2e::wait_for([&] { return ini_number(e2e::read_text(ini_path), "badgex") == x - 40; }, 5s))
        << e2e::read_text(ini_path);
    EXPECT_TRUE(e2e::wait_for([&] { return ini_number(e2e::read_text(ini_path), "badgey") == y + 20; }, 5s))
        << e2e::read_text(ini_path);
    info = x_command(s_display, "xwininfo -id " + badge);
    EXPECT_EQ(number_after(info, "Absolute upper-left X:"), x - 40) << info;
    EXPECT_EQ(number_after(info, "Absolute upper-left Y:"), y + 20) << info;
    EXPECT_TRUE(state_has("front=0")) << "a drag is not a click";
    x -= 40;
    y += 20;

    // A click on the badge brings the POS back; the badge goes and the alert stops.
    x_command(s_display, "xdotool mousemove " + std::to_string(x + 100) + " " + std::to_string(y + 30) + " click 1");
    EXPECT_TRUE(e2e::wait_for([] { return state_has("front=1"); }, 10s)) << notify_state();
    EXPECT_TRUE(e2e::wait_for([] { return state_has("badge=0"); }, 5s)) << notify_state();
    EXPECT_TRUE(state_has("unseen=0"));
    EXPECT_TRUE(x_command(s_display, "xdotool search --onlyvisible --classname TillBayBadge").empty());
    screenshot("03-pos-in-front");
}

} // namespace
