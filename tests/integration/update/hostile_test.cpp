// Hostile and faulty web hosts: manifests that break the rules, downloads
// that do not match, missing files. Nothing crashes, nothing is written
// outside the store, and every failure ends in its message.

#include "foundation/paths.h"
#include "foundation/settings.h"
#include "tests/unit/update/fixture.h"
#include "tiny_server.h"
#include "update/bundle_store.h"
#include "update/self_update.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace tillbay;
using namespace tillbay::test;
namespace fs = std::filesystem;

namespace {

class HostileHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        paths::set_exe_dir_for_testing(m_dir / "pos");
        fs::create_directories(m_dir / "pos");
    }
    void TearDown() override { paths::set_exe_dir_for_testing({}); }

    bundle::Layout layout() const { return { m_dir / "store/ui-bundles", m_dir / "store/legacy", m_dir / "pos" }; }

    // One update check against the server; the states it reported.
    std::vector<std::pair<std::string, std::string>> check(std::vector<std::string>* toasts = nullptr)
    {
        bundle::Store store(layout());
        std::vector<std::pair<std::string, std::string>> states;
        update::Hooks hooks { [&](auto const& s, auto const& m) { states.emplace_back(s, m); },
            [&] {
                if (toasts)
                    toasts->push_back(update::text::staged_toast);
            },
            [&](auto const& e) {
                if (toasts)
                    toasts->push_back(e);
            },
            {} };
        update::run_check(hooks, { m_server.web_host(), "1.3.191", m_dir / "pos", &store });
        return states;
    }
    std::vector<std::string> outside_store()
    {
        std::vector<std::string> names;
        for (auto const& e : fs::recursive_directory_iterator(m_dir.path()))
            if (!e.path().string().starts_with(m_dir / "store"))
                names.push_back(e.path());
        std::sort(names.begin(), names.end());
        return names;
    }
    void serve_files(Files const& files)
    {
        for (auto const& [name, content] : files)
            m_server.set("/v2/pos/ui/" + name, content);
    }

    TempDir m_dir;
    TinyServer m_server;
};

} // namespace

TEST_F(HostileHost, ManifestsThatBreakTheRulesAreRefusedWholesale)
{
    auto files = pages("h");
    serve_files(files);
    auto base = manifest_of("2.0", files);
    auto with_file = [&](std::string name, std::string hash = std::string(64, 'a')) {
        auto m = base;
        m.files.push_back(std::move(name));
        m.sha256.push_back(std::move(hash));
        return version_json(m);
    };
    std::string many = [&] {
        auto m = base;
        for (int i = 0; m.files.size() < 129; ++i) {
            m.files.push_back("ui/f" + std::to_string(i) + ".js");
            m.sha256.push_back(std::string(64, 'a'));
        }
        return version_json(m);
    }();
    struct Case {
        char const* what;
        std::string manifest;
    } cases[] = {
        { "device name", with_file("ui/CON.html") },
        { "device name with a digit", with_file("ui/js/COM1.js") },
        { "climbing out", with_file("ui/../../evil.js") },
        { "absolute", with_file("/tmp/evil.js") },
        { "hidden", with_file("ui/.hidden") },
        { "trailing dot", with_file("ui/x./y") },
        { "96 bytes", with_file("ui/" + std::string(93, 'n')) },
        { "letter case", with_file("ui/LOGIN.HTML") },
        { "backslash", with_file("ui\\\\evil.js") },
        { "129 files", many },
        { "63-digit hash", with_file("ui/a.js", std::string(63, 'a')) },
        { "no hashes", R"({"uiVersion":"2.0","files":["ui/login.html","ui/orders.html","ui/customer.html"]})" },
        { "no customer page", R"({"uiVersion":"2.0","files":["ui/login.html","ui/orders.html"],"sha256":[")"
                + std::string(64, 'a') + "\",\"" + std::string(64, 'a') + "\"]}" },
        { "broken array", R"({"uiVersion":"2.0","files":["ui/login.html",],"sha256":[]})" },
        { "bad version name", version_json(manifest_of("2.0/../x", files)) },
    };
    auto before = outside_store();
    for (auto const& c : cases) {
        m_server.set("/v2/pos/version.json", c.manifest);
        auto states = check();
        ASSERT_FALSE(states.empty()) << c.what;
        EXPECT_EQ(states.back(), std::make_pair(std::string("ui-fail"),
                                     std::string("화면 갱신을 받지 못했습니다 — 화면 묶음 목록·검증값이 올바르지 않습니다")))
            << c.what;
    }
    EXPECT_EQ(outside_store(), before);
    EXPECT_FALSE(fs::exists(m_dir.path() + "/../evil.js"));
    for (auto const& path : m_server.requested())
        EXPECT_EQ(path, "/v2/pos/version.json") << "no file of a refused list is fetched";
}

// A manifest that names neither a program nor a UI version still goes on to
// the bundle step: the flag of a finished program swap is cleared and the
// page learns why nothing was installed.
TEST_F(HostileHost, AnEmptyManifestGoesOnToTheBundleStepAndSaysSo)
{
    for (auto const* manifest : { "{}", R"({"files":[],"sha256":[]})", R"({"uiVersion":"","appVersion":""})" }) {
        SCOPED_TRACE(manifest);
        ASSERT_TRUE(settings::write_profile("UPDATE", "restarted", "1"));
        m_server.set("/v2/pos/version.json", manifest);
        auto states = check();
        EXPECT_EQ(states, (std::vector<std::pair<std::string, std::string>> { { "ui-fail",
                              "화면 갱신을 받지 못했습니다 — 화면 묶음 목록·검증값이 올바르지 않습니다" } }));
        EXPECT_EQ(settings::read_text("UPDATE", "restarted", 8), "") << "the swap flag is cleared";
    }

    // With a verified bundle in use the same answer keeps it.
    auto files = pages("e");
    serve_files(files);
    m_server.set("/v2/pos/version.json", version_json(manifest_of("1.0", files)));
    ASSERT_EQ(check().back().first, "app-ready");
    m_server.set("/v2/pos/version.json", "{}");
    auto states = check();
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].first, "ui-retained");
}

TEST_F(HostileHost, ADownloadThatDoesNotMatchItsHashKeepsTheBundleInUse)
{
    auto files = pages("good");
    serve_files(files);
    m_server.set("/v2/pos/version.json", version_json(manifest_of("1.0", files)));
    ASSERT_EQ(check().back().first, "app-ready");
    {
        bundle::Store store(layout());
        ASSERT_TRUE(store.leased());
    }

    auto next = pages("next");
    serve_files(next);
    m_server.set("/v2/pos/ui/orders.html", "not what the manifest says");
    m_server.set("/v2/pos/version.json", version_json(manifest_of("2.0", next)));
    auto states = check();
    EXPECT_EQ(states.front(), std::make_pair(std::string("ui-fetch"), std::string("화면을 갱신하는 중입니다 (2.0)")));
    EXPECT_EQ(states.back(), std::make_pair(std::string("ui-retained"),
                                 std::string("새 화면을 받지 못해 현재 화면을 유지합니다 — 받은 화면의 검증값이 다릅니다 (ui/orders.html)")));

    m_server.set("/v2/pos/ui/orders.html", "", 404);
    states = check();
    EXPECT_EQ(states.back().second, "새 화면을 받지 못해 현재 화면을 유지합니다 — 서버 응답 404");
    bundle::Store store(layout());
    EXPECT_EQ(store.ui_version(), "1.0");
    EXPECT_EQ(fs::directory_iterator(m_dir / "store/ui-bundles") == fs::directory_iterator(), false);
    for (auto const& e : fs::directory_iterator(m_dir / "store/ui-bundles"))
        EXPECT_FALSE(e.path().filename().string().starts_with(".stage-")) << "staging folders are removed";
}

TEST_F(HostileHost, AProgramThatCannotBeFetchedIsReportedWithItsText)
{
    auto files = pages("p");
    serve_files(files);
    auto m = manifest_of("1.0", files);
    m.app_version = "1.4.0";
    m.app_url = "/v2/pos/missing-program";
    m.app_sha256 = std::string(64, 'a');
    m_server.set("/v2/pos/version.json", version_json(m));
    std::vector<std::string> toasts;
    auto states = check(&toasts);
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[1], std::make_pair(std::string("app-fail"), std::string("새 판을 받지 못했습니다 — 서버 응답 404")));
    EXPECT_EQ(toasts, std::vector<std::string> { "서버 응답 404" });
    EXPECT_FALSE(fs::exists(m_dir / "pos/tillbay2.new"));

    // A program file that does not match its hash is thrown away.
    m_server.set("/v2/pos/missing-program", "some other program");
    states = check(&toasts);
    EXPECT_EQ(states.back().second, "새 판을 받지 못했습니다 — 받은 파일이 검증값과 다릅니다 — 버렸습니다");
    EXPECT_FALSE(fs::exists(m_dir / "pos/tillbay2.new"));
}

TEST_F(HostileHost, AnOlderServerProgramIsReportedOnceTheBundleIsCurrent)
{
    auto files = pages("p");
    serve_files(files);
    auto m = manifest_of("1.0", files);
    m.app_version = "1.3.100";
    m.app_url = "/x";
    m.app_sha256 = std::string(64, 'a');
    m_server.set("/v2/pos/version.json", version_json(m));
    ASSERT_EQ(check().back().first, "app-ready");
    auto states = check();
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0], std::make_pair(std::string(), std::string()));
    EXPECT_EQ(states[1], std::make_pair(std::string("server-old"),
                             std::string("서버 판(1.3.100)이 이 프로그램(1.3.191)보다 낮습니다 — 개발 판으로 보입니다")));
}

TEST_F(HostileHost, UnchangedFilesAreNotDownloadedAgain)
{
    auto files = pages("one");
    serve_files(files);
    m_server.set("/v2/pos/version.json", version_json(manifest_of("1.0", files)));
    ASSERT_EQ(check().back().first, "app-ready");
    auto changed = files;
    changed["orders.html"] = "<p>changed</p>";
    serve_files(changed);
    m_server.set("/v2/pos/version.json", version_json(manifest_of("1.1", changed)));
    auto before = m_server.requested().size();
    ASSERT_EQ(check().back().first, "app-ready");
    auto requested = m_server.requested();
    std::vector<std::string> fetched(requested.begin() + static_cast<long>(before), requested.end());
    EXPECT_EQ(fetched, (std::vector<std::string> { "/v2/pos/version.json", "/v2/pos/ui/orders.html" }));
}
