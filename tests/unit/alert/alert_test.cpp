// The new-order alert against a fake clock and fake windows: when it calls,
// how often it rings, when it stops, what the badge shows, where the badge
// goes, and the commands the pages use to feed and configure it.

#include "foundation/paths.h"
#include "foundation/user_files.h"
#include "alert/alert.h"
#include "alert/history_family.h"
#include "os/fs.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace tillbay::alert {
namespace {

class FakeAlertPort final : public AlertPort {
public:
    bool pos_in_front() override { return front; }
    uint64_t now_ms() override { return now; }
    void start_flash_timer() override { flash_timer = true; ++flash_starts; }
    void kill_flash_timer() override { flash_timer = false; }
    void request_attention(bool on) override { attention = on; }
    void play(Sound sound) override { played.push_back(sound); }
    bool sound_switched_on() override { return sound_on; }
    void bring_pos_to_front() override { ++brought_to_front; }
    int screen_dpi() override { return dpi; }
    Rect work_area() override { return work; }
    bool create_badge(BadgeGeometry const& g) override { badge = true; geometry = g; return true; }
    void destroy_badge() override { badge = false; visible = false; }
    bool badge_exists() override { return badge; }
    bool badge_visible() override { return visible; }
    void show_badge() override { visible = true; }
    void hide_badge() override { visible = false; }
    void raise_badge() override { ++raises; }
    void place_badge(BadgeGeometry const& g) override { geometry = g; }
    void move_badge(int x, int y) override { geometry.x = x; geometry.y = y; }
    void paint_badge(BadgeLook const& look) override { painted.push_back(look); }
    bool add_tray() override { return tray_available; }
    void remove_tray() override { tray_removed = true; }
    void set_tray_tip(std::string_view tip, int) override { tray_tip = tip; }
    bool write_setting(std::string_view key, std::string_view value) override
    {
        if (!writable)
            return false;
        written[std::string(key)] = std::string(value);
        return true;
    }
    // The settings as the file would hold them after the writes.
    NotifySettings read_settings() override
    {
        NotifySettings s = stored;
        auto number = [&](char const* key, int& out) {
            if (auto it = written.find(key); it != written.end())
                out = static_cast<int>(field_integer(it->second));
        };
        number("badge", s.badge);
        number("repeat", s.repeat);
        number("badgesize", s.badgesize);
        number("badgex", s.badgex);
        number("badgey", s.badgey);
        if (auto it = written.find("badgecolor"); it != written.end())
            s.badge_color = palette_index(it->second).value_or(0);
        if (auto it = written.find("alertcolor"); it != written.end())
            s.alert_color = palette_index(it->second).value_or(1);
        return s;
    }

    bool front = false;
    uint64_t now = 1'000'000;
    bool flash_timer = false;
    int flash_starts = 0;
    bool attention = false;
    std::vector<Sound> played;
    bool sound_on = true;
    int brought_to_front = 0;
    int dpi = 96;
    Rect work { 0, 0, 1920, 1040 };
    bool badge = false;
    bool visible = false;
    int raises = 0;
    BadgeGeometry geometry;
    std::vector<BadgeLook> painted;
    bool tray_available = true;
    bool tray_removed = false;
    std::string tray_tip;
    bool writable = true;
    std::map<std::string, std::string> written;
    NotifySettings stored;
};

class RecordingPage final : public bridge::Page {
public:
    void callback(std::string_view name, std::string_view args) override
    {
        callbacks.push_back(std::string(name) + "(" + std::string(args) + ")");
    }
    void status(std::string_view message) override { statuses.emplace_back(message); }
    std::vector<std::string> callbacks;
    std::vector<std::string> statuses;
};

bridge::Command command(std::vector<std::string> fields) { return bridge::Command { std::move(fields), 7, false }; }

class AlertTest : public ::testing::Test {
protected:
    AlertTest()
        : alert(port)
    {
        alert.add_tray();
        alert.create_badge();
    }

    // Runs the one-second tick n times, moving the clock with it.
    void seconds(int n)
    {
        for (int i = 0; i < n; ++i) {
            port.now += 1000;
            alert.tick();
        }
    }

    FakeAlertPort port;
    Alert alert;
};

TEST_F(AlertTest, NotifyWhileThePosIsInFrontChangesNothing)
{
    port.front = true;
    seconds(1);
    alert.start("테이블 3", 15000);
    seconds(30);
    State s = alert.state();
    EXPECT_FALSE(s.alerting);
    EXPECT_FALSE(s.unseen);
    EXPECT_EQ(s.sounds, 0u);
    EXPECT_EQ(port.flash_starts, 0);
    EXPECT_FALSE(port.attention);
    EXPECT_TRUE(port.played.empty());
    EXPECT_FALSE(port.visible) << "the badge stays hidden while the POS is in front";
}

TEST_F(AlertTest, NewOrderFlashesThenRepeatsTheSoundEveryTenSecondsUntilSeen)
{
    seconds(1);
    ASSERT_TRUE(port.visible) << "an idle badge shows the waiting count";
    EXPECT_EQ(port.painted.back().title, "틸웨");
    EXPECT_EQ(port.painted.back().value, "처리 대기 0건");

    alert.start("테이블 3", 15000);
    EXPECT_TRUE(port.flash_timer);
    EXPECT_TRUE(port.attention);
    BadgeLook look = alert.look();
    EXPECT_EQ(look.title, "새 주문");
    EXPECT_EQ(look.value, "테이블 3 · 15,000원");
    EXPECT_EQ(port.painted.back().value, "테이블 3 · 15,000원");
    EXPECT_TRUE(port.played.empty()) << "the page rings for the order itself; the repeat waits ten seconds";

    seconds(9);
    EXPECT_TRUE(port.played.empty());
    seconds(1);
    ASSERT_EQ(port.played.size(), 1u);
    EXPECT_EQ(port.played[0], Sound::Table);

    // Timer 43 ends the flash at fifteen seconds; the sound goes on.
    seconds(5);
    alert.flash_end();
    EXPECT_FALSE(alert.state().alerting);
    EXPECT_TRUE(alert.state().unseen);
    EXPECT_EQ(port.painted.back().title, "틸웨");
    seconds(5);
    EXPECT_EQ(port.played.size(), 2u);
    seconds(10);
    EXPECT_EQ(port.played.size(), 3u);
    EXPECT_EQ(alert.state().sounds, 3u);

    // Somebody looks at the POS: everything stops at the next tick.
    port.front = true;
    seconds(1);
    EXPECT_FALSE(alert.state().unseen);
    EXPECT_FALSE(port.attention);
    EXPECT_FALSE(port.visible);
    port.front = false;
    seconds(30);
    EXPECT_EQ(port.played.size(), 3u);
    EXPECT_TRUE(port.visible) << "back in the background, the badge shows the count again";
}

TEST_F(AlertTest, ComingToTheFrontDuringTheFlashEndsItAndKillsTimer43)
{
    alert.start("포장 12", 8000);
    seconds(3);
    ASSERT_TRUE(alert.state().alerting);
    port.front = true;
    seconds(1);
    EXPECT_FALSE(alert.state().alerting);
    EXPECT_FALSE(alert.state().unseen);
    EXPECT_FALSE(port.flash_timer);
}

TEST_F(AlertTest, LabelWithoutTableRingsTheSecondSound)
{
    alert.start("포장 12", 8000);
    seconds(10);
    ASSERT_EQ(port.played.size(), 1u);
    EXPECT_EQ(port.played[0], Sound::NonTable);
}

TEST_F(AlertTest, FlashAlternatesTheAlertColours)
{
    port.stored.alert_color = 4; // blue
    alert.settings_changed();
    alert.start("테이블 1", 1);
    std::vector<Rgb> backgrounds;
    for (int i = 0; i < 4; ++i) {
        seconds(1);
        backgrounds.push_back(port.painted.back().background);
    }
    Rgb plain = palette[4].background;
    Rgb flash = palette[4].flash;
    EXPECT_TRUE((backgrounds == std::vector<Rgb> { plain, flash, plain, flash })
        || (backgrounds == std::vector<Rgb> { flash, plain, flash, plain }));
    EXPECT_EQ(port.painted.back().title_colour, palette[4].title);
}

struct Silence {
    char const* name;
    bool sound_file_on;
    int repeat;
};

TEST_F(AlertTest, SoundOffOrNoRepeatStaysSilentButStillFlashes)
{
    for (Silence c : { Silence { "sound.txt off", false, 1 }, Silence { "repeat 0", true, 0 } }) {
        SCOPED_TRACE(c.name);
        FakeAlertPort quiet;
        quiet.sound_on = c.sound_file_on;
        quiet.stored.repeat = c.repeat;
        Alert a(quiet);
        a.create_badge();
        a.start("테이블 2", 3000);
        size_t paints = quiet.painted.size();
        for (int i = 0; i < 40; ++i) {
            quiet.now += 1000;
            a.tick();
        }
        EXPECT_TRUE(quiet.played.empty());
        EXPECT_EQ(a.state().sounds, 0u);
        EXPECT_GT(quiet.painted.size(), paints + 5);
        EXPECT_TRUE(a.state().unseen);
    }
}

TEST_F(AlertTest, BadgeSwitchedOffIsNeverShownButTheSoundStillRepeats)
{
    FakeAlertPort off;
    off.stored.badge = 0;
    Alert a(off);
    a.create_badge();
    a.start("테이블 2", 3000);
    for (int i = 0; i < 12; ++i) {
        off.now += 1000;
        a.tick();
    }
    EXPECT_FALSE(off.visible);
    EXPECT_EQ(off.played.size(), 1u);
}

TEST_F(AlertTest, BadgeIsPutBackOnTopEveryFifthTick)
{
    seconds(1); // shows it and raises it once
    int after_show = port.raises;
    seconds(9);
    EXPECT_EQ(port.raises - after_show, 2);
}

TEST_F(AlertTest, WaitingCountReachesTheBadgeAndTheTray)
{
    seconds(1);
    alert.set_waiting(4);
    EXPECT_EQ(port.painted.back().value, "처리 대기 4건");
    EXPECT_EQ(port.tray_tip, "틸웨 · 처리 대기 4건");
    EXPECT_EQ(alert.state().waiting, 4);
    EXPECT_TRUE(alert.state().tray);
}

TEST_F(AlertTest, ShutDownRemovesTrayAndBadge)
{
    alert.start("테이블 2", 3000);
    alert.shut_down();
    EXPECT_TRUE(port.tray_removed);
    EXPECT_FALSE(port.badge);
    EXPECT_FALSE(port.flash_timer);
    EXPECT_FALSE(alert.state().tray);
    alert.tick(); // a late tick finds nothing to do
}

struct Drag {
    int dx;
    int dy;
    bool moves;
};

TEST_F(AlertTest, ShortDragIsAClickLongerDragMovesAndStoresThePosition)
{
    for (Drag d : { Drag { 3, 0, false }, Drag { 2, -1, false }, Drag { 4, 0, true }, Drag { -2, 2, true },
             Drag { 0, 0, false } }) {
        SCOPED_TRACE(std::to_string(d.dx) + "," + std::to_string(d.dy));
        FakeAlertPort p;
        Alert a(p);
        a.create_badge();
        BadgeGeometry start = p.geometry;
        a.badge_pressed(500, 300);
        a.badge_dragged(500 + d.dx, 300 + d.dy);
        a.badge_released();
        if (d.moves) {
            EXPECT_EQ(p.brought_to_front, 0);
            EXPECT_EQ(p.geometry.x, start.x + d.dx);
            EXPECT_EQ(p.geometry.y, start.y + d.dy);
            EXPECT_EQ(p.written["badgex"], std::to_string(start.x + d.dx));
            EXPECT_EQ(p.written["badgey"], std::to_string(start.y + d.dy));
        } else {
            EXPECT_EQ(p.brought_to_front, 1);
            EXPECT_EQ(p.geometry.x, start.x);
            EXPECT_TRUE(p.written.empty());
        }
    }
}

TEST_F(AlertTest, DragFollowsTheCursorOnceItHasStarted)
{
    BadgeGeometry start = port.geometry;
    alert.badge_pressed(100, 100);
    alert.badge_dragged(101, 101); // below the threshold: nothing moves yet
    EXPECT_EQ(port.geometry.x, start.x);
    alert.badge_dragged(103, 101); // 3 + 1 = 4: the drag starts here
    alert.badge_dragged(110, 90);
    alert.badge_released();
    EXPECT_EQ(port.geometry.x, start.x + 10);
    EXPECT_EQ(port.geometry.y, start.y - 10);
    // A release without a press (the press went to another window) is nothing.
    alert.badge_released();
    EXPECT_EQ(port.brought_to_front, 0);
}

struct Placement {
    char const* name;
    int x;
    int y;
    bool kept;
};

TEST(BadgeGeometry, StoredPositionIsKeptOnlyWhileReachable)
{
    // 96 dpi, 100 %: 214 x 66, so half the width is 107 and half the height 33.
    Rect work { 0, 0, 1920, 1040 };
    for (Placement c : {
             Placement { "inside", 300, 200, true },
             Placement { "half off the left edge", -107, 0, true },
             Placement { "more than half off the left", -108, 0, false },
             Placement { "half off the right edge", 1920 - 107, 0, true },
             Placement { "past the right", 1920 - 106, 0, false },
             Placement { "ten above the top", 0, -10, true },
             Placement { "eleven above the top", 0, -11, false },
             Placement { "half below the bottom", 0, 1040 - 33, true },
             Placement { "lower still", 0, 1040 - 32, false },
             Placement { "a monitor that is gone", 3500, 400, false },
             Placement { "only x stored", 300, position_not_set, false },
         }) {
        SCOPED_TRACE(c.name);
        NotifySettings s;
        s.badgex = c.x;
        s.badgey = c.y;
        BadgeGeometry g = badge_geometry(s, 96, work);
        EXPECT_EQ(g.width, 214);
        EXPECT_EQ(g.height, 66);
        if (c.kept) {
            EXPECT_EQ(g.x, c.x);
            EXPECT_EQ(g.y, c.y);
        } else {
            EXPECT_EQ(g.x, 1920 - 12 - 214);
            EXPECT_EQ(g.y, 12);
        }
    }
}

TEST(BadgeGeometry, ScalesWithTheScreenAndTheChosenSize)
{
    struct Case {
        int dpi;
        int badgesize;
        int width;
        int height;
        int corner;
    };
    Rect work { 100, 50, 1380, 1024 };
    for (Case c : {
             Case { 96, 1, 214, 66, 14 },
             Case { 60, 1, 214, 66, 14 }, // an unknown resolution counts as 96
             Case { 144, 1, 321, 99, 21 },
             Case { 96, 0, 182, 56, 12 },  // 85 %
             Case { 96, -3, 182, 56, 12 }, // 0 or less is 85 %
             Case { 96, 2, 268, 83, 18 },  // 125 %
             Case { 96, 7, 268, 83, 18 },  // 2 or more is 125 %
             Case { 120, 2, 335, 104, 23 }, // each step rounds: 267.5 -> 268 -> 335
         }) {
        SCOPED_TRACE(std::to_string(c.dpi) + " dpi, size " + std::to_string(c.badgesize));
        NotifySettings s;
        s.badgesize = c.badgesize;
        BadgeGeometry g = badge_geometry(s, c.dpi, work);
        EXPECT_EQ(g.width, c.width);
        EXPECT_EQ(g.height, c.height);
        EXPECT_EQ(g.corner, c.corner);
        EXPECT_EQ(g.x, 1380 - scaled(12, c.dpi, s.size_percent()) - c.width);
        EXPECT_EQ(g.y, 50 + scaled(12, c.dpi, s.size_percent()));
    }
}

TEST(AlertText, AmountsAndCommandIntegers)
{
    struct Amount {
        int64_t value;
        char const* text;
    };
    for (Amount c : { Amount { 0, "0" }, Amount { 999, "999" }, Amount { 1000, "1,000" }, Amount { 15000, "15,000" },
             Amount { 123456789, "123,456,789" }, Amount { -1234567, "-1,234,567" },
             Amount { std::numeric_limits<int64_t>::min(), "-9,223,372,036,854,775,808" } })
        EXPECT_EQ(group_thousands(c.value), c.text) << c.value;

    struct Field {
        char const* text;
        int64_t value;
    };
    for (Field c : { Field { "", 0 }, Field { "15000", 15000 }, Field { "  42abc", 42 }, Field { "-7", -7 },
             Field { "+8", 8 }, Field { "원", 0 }, Field { "12.5", 12 },
             Field { "99999999999999999999", std::numeric_limits<int64_t>::max() },
             Field { "-99999999999999999999", std::numeric_limits<int64_t>::min() } })
        EXPECT_EQ(field_integer(c.text), c.value) << c.text;

    EXPECT_EQ(mul_div(7, 3, 2), 11); // 10.5 rounds away from zero
    EXPECT_EQ(mul_div(-7, 3, 2), -11);
    EXPECT_EQ(mul_div(5, 5, 0), -1);
}

TEST(Palette, NamesMatchWithoutLetterCase)
{
    EXPECT_EQ(palette_index("navy"), 0);
    EXPECT_EQ(palette_index("RED"), 1);
    EXPECT_EQ(palette_index("Plum"), 7);
    EXPECT_EQ(palette_index("magenta"), std::nullopt);
    EXPECT_EQ(palette_index(""), std::nullopt);
    EXPECT_EQ(palette_index("red "), std::nullopt);
}

// The family commands, through the bridge's command shape.
class AlertCommands : public AlertTest {
protected:
    AlertCommands()
        : pc(alert, port)
        , history(alert)
    {
    }
    AlertPcFamily pc;
    HistoryFamily history;
    RecordingPage page;
};

TEST_F(AlertCommands, GetnotifyReportsTheSettingsAndThePalette)
{
    port.stored.badgesize = 7;
    port.stored.badge_color = 6;
    ASSERT_EQ(pc.handle(command({ "getnotify" }), page), bridge::Handled::Yes);
    ASSERT_EQ(page.callbacks.size(), 1u);
    std::string const& answer = page.callbacks[0];
    EXPECT_EQ(answer.rfind("setNotifyCfg({\"badge\":1,\"repeat\":1,\"badgesize\":2,\"badgecolor\":\"black\","
                           "\"alertcolor\":\"red\",\"colors\":[{\"k\":\"navy\",\"n\":\"남색\",\"bg\":\"#1e2434\","
                           "\"bg2\":\"#2e3850\",\"sub\":\"#b4c0d6\"},{\"k\":\"red\"",
                  0),
        0u)
        << answer;
    EXPECT_NE(answer.find("{\"k\":\"plum\",\"n\":\"자주\",\"bg\":\"#9d174d\",\"bg2\":\"#be2060\",\"sub\":\"#ffdeec\"}]})"),
        std::string::npos)
        << answer;
}

TEST_F(AlertCommands, GetnotifyReportsTheStoredSwitchesClampedToTwo)
{
    struct Case {
        int stored;
        char const* reported;
    };
    for (Case c : { Case { 0, "0" }, Case { 1, "1" }, Case { 2, "2" }, Case { 5, "2" }, Case { -3, "0" } }) {
        SCOPED_TRACE(c.stored);
        port.stored.badge = c.stored;
        port.stored.repeat = c.stored;
        RecordingPage p;
        pc.handle(command({ "getnotify" }), p);
        ASSERT_EQ(p.callbacks.size(), 1u);
        EXPECT_EQ(p.callbacks[0].rfind(std::string("setNotifyCfg({\"badge\":") + c.reported + ",\"repeat\":" + c.reported + ",", 0),
            0u)
            << p.callbacks[0];
    }
}

TEST_F(AlertCommands, SetnotifyEndsWithTheTrustedGetnotify)
{
    std::vector<std::pair<std::string, uint64_t>> dispatched;
    pc.set_dispatch([&](std::string_view text, uint64_t generation) { dispatched.emplace_back(text, generation); });
    auto set = command({ "setnotify", "repeat", "0" });
    set.generation = 42;
    ASSERT_EQ(pc.handle(set, page), bridge::Handled::Yes);
    EXPECT_EQ(dispatched, (std::vector<std::pair<std::string, uint64_t>> { { "getnotify", 42 } }));
    EXPECT_TRUE(page.callbacks.empty()) << "the answer comes from the dispatched getnotify";
    EXPECT_EQ(page.statuses, std::vector<std::string> { "저장했습니다" });
}

TEST_F(AlertCommands, SetnotifyNormalisesStoresAndAnswers)
{
    struct Case {
        std::vector<std::string> fields;
        char const* key; // nullptr: nothing stored and no answer
        char const* stored;
    };
    for (Case const& c : std::vector<Case> {
             { { "setnotify", "badgecolor", "RED" }, "badgecolor", "red" },
             { { "setnotify", "alertcolor", "Purple" }, "alertcolor", "purple" },
             { { "setnotify", "badgecolor", "magenta" }, nullptr, nullptr },
             { { "setnotify", "badgesize", "7" }, "badgesize", "1" },
             { { "setnotify", "badgesize", "2" }, "badgesize", "2" },
             { { "setnotify", "badgesize", "0" }, "badgesize", "0" },
             { { "setnotify", "badge", "0" }, "badge", "0" },
             { { "setnotify", "repeat", "false" }, "repeat", "1" },
             { { "setnotify", "badgex", "5" }, nullptr, nullptr },
             { { "setnotify", "badge" }, nullptr, nullptr },
         }) {
        SCOPED_TRACE(c.fields[1] + "=" + (c.fields.size() > 2 ? c.fields[2] : "(none)"));
        port.written.clear();
        RecordingPage p;
        ASSERT_EQ(pc.handle(command(c.fields), p), bridge::Handled::Yes);
        if (!c.key) {
            EXPECT_TRUE(port.written.empty());
            EXPECT_TRUE(p.callbacks.empty());
            EXPECT_TRUE(p.statuses.empty());
            continue;
        }
        EXPECT_EQ(port.written[c.key], c.stored);
        EXPECT_EQ(p.statuses, std::vector<std::string> { "저장했습니다" });
        ASSERT_EQ(p.callbacks.size(), 1u);
        EXPECT_EQ(p.callbacks[0].rfind("setNotifyCfg(", 0), 0u);
    }
}

TEST_F(AlertCommands, SetnotifyReshapesTheBadgeInPlaceAndSwitchesItOff)
{
    seconds(1);
    alert.badge_pressed(0, 0);
    alert.badge_dragged(-50, 40);
    alert.badge_released();
    BadgeGeometry moved = port.geometry;

    pc.handle(command({ "setnotify", "badgesize", "2" }), page);
    EXPECT_EQ(port.geometry.width, 268);
    EXPECT_EQ(port.geometry.x, moved.x) << "resizing keeps the badge where the user put it";
    EXPECT_EQ(port.geometry.y, moved.y);
    EXPECT_EQ(port.painted.back().value_height, scaled(18, 96, 125));

    pc.handle(command({ "setnotify", "badgecolor", "green" }), page);
    EXPECT_EQ(port.painted.back().background, palette[3].background);

    pc.handle(command({ "setnotify", "badge", "0" }), page);
    EXPECT_FALSE(port.visible) << "switching the badge off hides it at once";
}

TEST_F(AlertCommands, SetnotifyThatCannotWriteSaysSo)
{
    port.writable = false;
    pc.handle(command({ "setnotify", "repeat", "0" }), page);
    EXPECT_EQ(page.statuses, std::vector<std::string> { "설정을 저장하지 못했습니다" });
    EXPECT_EQ(page.callbacks.size(), 1u);
    EXPECT_EQ(alert.settings().repeat, 1) << "the old value stays in force";
}

TEST_F(AlertCommands, NotifyBadgeAndNotifystate)
{
    // notify</>kind</>label</>amount
    ASSERT_EQ(history.handle(command({ "notify", "new", "테이블 3", "15000" }), page), bridge::Handled::Yes);
    ASSERT_EQ(pc.handle(command({ "badge", "5" }), page), bridge::Handled::Yes);
    EXPECT_TRUE(page.callbacks.empty()) << "notify and badge send no answer";
    seconds(10);
    pc.handle(command({ "notifystate" }), page);
    ASSERT_EQ(page.callbacks.size(), 1u);
    EXPECT_EQ(page.callbacks[0],
        "setNotifyState({\"front\":0,\"badge\":1,\"alert\":1,\"unseen\":1,\"beeps\":1,\"wait\":5,\"tray\":1})");

    // A notify without label and amount still calls for attention.
    history.handle(command({ "notify" }), page);
    EXPECT_EQ(alert.look().value, " · 0원");
    EXPECT_EQ(port.played.back(), Sound::Table);
    history.handle(command({ "notify", "x", "포장", "1e5" }), page);
    EXPECT_EQ(alert.look().value, "포장 · 1원");
    seconds(10);
    EXPECT_EQ(port.played.back(), Sound::NonTable);

    pc.handle(command({ "badge", "abc" }), page);
    EXPECT_EQ(alert.state().waiting, 0);
}

TEST_F(AlertCommands, LeavesOtherCommandsToTheNextFamily)
{
    EXPECT_EQ(pc.handle(command({ "getfull" }), page), bridge::Handled::No);
    EXPECT_EQ(history.handle(command({ "histsrv" }), page), bridge::Handled::No);
}

// gethist and savehist against a per-user folder of their own, for the store
// that is signed in at the time.
class HistoryCommands : public AlertCommands {
protected:
    HistoryCommands()
    {
        m_dir = std::filesystem::temp_directory_path() / ("tb_history_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
        char const* old = std::getenv("LOCALAPPDATA");
        m_old_appdata = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("LOCALAPPDATA", m_dir.c_str(), 1);
        session::set_staff(7, 70, "테스트 매장", false);
    }
    ~HistoryCommands() override
    {
        session::reset();
        if (m_old_appdata)
            ::setenv("LOCALAPPDATA", m_old_appdata->c_str(), 1);
        else
            ::unsetenv("LOCALAPPDATA");
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string file(char const* name) const { return (m_dir / "TillBay" / name).string(); }
    std::optional<std::string> content(char const* name) const
    {
        auto text = os::read_file(file(name), 8 * 1024 * 1024);
        return text.ok() ? std::optional<std::string>(text.value()) : std::nullopt;
    }
    // Offers the command and returns what the page got back, callbacks then statuses.
    std::vector<std::string> answers(std::vector<std::string> fields)
    {
        RecordingPage p;
        EXPECT_EQ(history.handle(command(std::move(fields)), p), bridge::Handled::Yes);
        auto all = p.callbacks;
        all.insert(all.end(), p.statuses.begin(), p.statuses.end());
        return all;
    }

private:
    std::filesystem::path m_dir;
    std::optional<std::string> m_old_appdata;
};

TEST_F(HistoryCommands, SavedHistoryComesBackForItsStoreOnly)
{
    using Answers = std::vector<std::string>;
    EXPECT_EQ(answers({ "gethist" }), Answers { "setHistory('')" }) << "no history yet";

    EXPECT_EQ(answers({ "savehist", R"([{"no":1,"memo":"덜 맵게 \"꼭\""}])" }), Answers {});
    EXPECT_EQ(content("history-7.json"), R"([{"no":1,"memo":"덜 맵게 \"꼭\""}])");
    EXPECT_EQ(answers({ "gethist" }), Answers { R"(setHistory("[{\"no\":1,\"memo\":\"덜 맵게 \\\"꼭\\\"\"}]"))" });

    // Another store signed in on the same PC sees its own, empty, history.
    session::set_staff(8, 80, "다른 매장", false);
    EXPECT_EQ(answers({ "gethist" }), Answers { "setHistory('')" });
    EXPECT_EQ(answers({ "savehist", "[2]" }), Answers {});
    EXPECT_EQ(content("history-8.json"), "[2]");
    EXPECT_EQ(content("history-7.json"), R"([{"no":1,"memo":"덜 맵게 \"꼭\""}])");
}

TEST_F(HistoryCommands, SavehistKeepsTheWholeTextAndIgnoresAnEmptyOne)
{
    using Answers = std::vector<std::string>;
    // A memo holding the field separator must not cut the history short.
    EXPECT_EQ(answers({ "savehist", R"([{"memo":"a)", R"(b"},{"memo":""}])" }), Answers {});
    EXPECT_EQ(content("history-7.json"), R"([{"memo":"a</>b"},{"memo":""}])");

    for (auto const& fields : std::vector<std::vector<std::string>> { { "savehist" }, { "savehist", "" } }) {
        SCOPED_TRACE(fields.size());
        EXPECT_EQ(answers(fields), Answers {});
        EXPECT_EQ(content("history-7.json"), R"([{"memo":"a</>b"},{"memo":""}])") << "an empty text leaves the history alone";
    }
}

TEST_F(HistoryCommands, SavehistThatCannotWriteSaysSoAndKeepsTheOldHistory)
{
    using Answers = std::vector<std::string>;
    ASSERT_EQ(answers({ "savehist", "[1]" }), Answers {});
    // A folder in the temporary file's place makes the write fail.
    std::filesystem::create_directories(file("history-7.json.tmp"));
    EXPECT_EQ(answers({ "savehist", "[1,2]" }), Answers { "영수증 이력을 저장하지 못했습니다" });
    EXPECT_EQ(content("history-7.json"), "[1]");
    EXPECT_EQ(answers({ "gethist" }), Answers { R"(setHistory("[1]"))" });
}

TEST_F(HistoryCommands, UnreadableOrOversizedHistoryAnswersEmpty)
{
    using Answers = std::vector<std::string>;
    std::filesystem::create_directories(std::filesystem::path(file("history-7.json")).parent_path());
    ASSERT_TRUE(os::write_file(file("history-7.json"), std::string(userfiles::k_history_limit_bytes, '1')).ok());
    EXPECT_EQ(answers({ "gethist" }), Answers { "setHistory('')" });
    std::filesystem::remove(file("history-7.json"));
    std::filesystem::create_directories(file("history-7.json"));
    EXPECT_EQ(answers({ "gethist" }), Answers { "setHistory('')" });
}

// The settings file itself, read through the real reader.
TEST(NotifySettingsFile, ReadsClampsAndFallsBack)
{
    auto dir = std::filesystem::temp_directory_path() / ("tb_alert_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    paths::set_exe_dir_for_testing(dir.string() + "/");
    ASSERT_TRUE(os::write_file((dir / "tillbay.ini").string(),
        "[SERVER]\r\nport=9000\r\n[NOTIFY]\r\n; 설치 기사 메모\r\nbadgesize=7\r\nbadgecolor=RED\r\nalertcolor=magenta\r\n"
        "badgex=40\r\nrepeat=0\r\n")
                    .ok());
    NotifySettings s = NotifySettings::read();
    EXPECT_EQ(s.badge, 1);
    EXPECT_EQ(s.repeat, 0);
    EXPECT_EQ(s.size_percent(), 125);
    EXPECT_EQ(s.size_step(), 2);
    EXPECT_EQ(s.badge_color, 1);
    EXPECT_EQ(s.alert_color, 1) << "an unknown alert colour falls back to red";
    EXPECT_EQ(s.badgex, 40);
    EXPECT_EQ(s.badgey, position_not_set);
    paths::set_exe_dir_for_testing("");
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

} // namespace
} // namespace tillbay::alert
