#include "update/self_update.h"

#include "fixture.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "os/crypto.h"
#include "update/bundle_store.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tillbay;
using namespace tillbay::test;
namespace fs = std::filesystem;

namespace {

// The program's folder is a temporary one: its settings file, its staged file.
class SelfUpdateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        paths::set_exe_dir_for_testing(m_dir.path());
        write(exe(), "old program");
        ::chmod(exe().c_str(), 0755);
    }
    void TearDown() override { paths::set_exe_dir_for_testing({}); }

    std::string exe() const { return m_dir / "tillbay"; }
    std::string key(char const* name) const { return settings::read_text("UPDATE", name, 128); }
    void stage(std::string const& content, std::string const& version, std::string const& sha)
    {
        write(m_dir / "tillbay2.new", content);
        ASSERT_TRUE(settings::write_profile("UPDATE", "staged", version));
        ASSERT_TRUE(settings::write_profile("UPDATE", "stagedsha", sha));
    }

    TempDir m_dir;
};

struct Recorder {
    std::vector<std::pair<std::string, std::string>> states;
    int staged = 0;
    std::vector<std::string> failures;
    std::vector<std::string> statuses;
    update::Hooks hooks()
    {
        return { [this](auto const& s, auto const& m) { states.emplace_back(s, m); }, [this] { ++staged; },
            [this](auto const& e) { failures.push_back(e); }, [this](auto const& m) { statuses.push_back(m); } };
    }
};

} // namespace

TEST_F(SelfUpdateTest, NothingStagedIsNothingToDo)
{
    EXPECT_EQ(update::apply_staged_update(exe()), update::Swap::Nothing);
    EXPECT_EQ(read(exe()), "old program");
}

TEST_F(SelfUpdateTest, AVerifiedStagedFileIsSwappedIn)
{
    std::string program = "new program";
    stage(program, "1.4.0", [&] {
        auto hex = os::sha256_hex(program);
        for (auto& c : hex)
            c = static_cast<char>(std::toupper(c)); // letter case does not matter
        return hex;
    }());
    EXPECT_EQ(update::apply_staged_update(exe()), update::Swap::Swapped);
    EXPECT_EQ(read(exe()), "new program");
    EXPECT_EQ(read(m_dir / "tillbay2.old"), "old program");
    EXPECT_FALSE(fs::exists(m_dir / "tillbay2.new"));
    struct stat st {};
    ASSERT_EQ(::stat(exe().c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & 0100) << "the new program can be started";
    EXPECT_EQ(key("applied"), "1.4.0");
    EXPECT_EQ(key("staged"), "");
    EXPECT_EQ(key("stagedsha"), "");
    EXPECT_TRUE(update::read_and_clear_restarted());
    EXPECT_FALSE(update::read_and_clear_restarted());

    // The next swap replaces the old program kept from the last one.
    stage("newer program", "1.5.0", os::sha256_hex("newer program"));
    EXPECT_EQ(update::apply_staged_update(exe()), update::Swap::Swapped);
    EXPECT_EQ(read(m_dir / "tillbay2.old"), "new program");
}

TEST_F(SelfUpdateTest, AStagedFileThatFailsItsCheckIsDeleted)
{
    struct Case {
        char const* what;
        std::string version;
        std::string sha;
    } cases[] = {
        { "half a file", "1.4.0", os::sha256_hex("the whole new program") },
        { "no version recorded", "", os::sha256_hex("new program") },
        { "no hash recorded", "1.4.0", "" },
        { "a hash of 63 digits", "1.4.0", os::sha256_hex("new program").substr(1) },
    };
    for (auto const& c : cases) {
        stage("new program", c.version, c.sha);
        EXPECT_EQ(update::apply_staged_update(exe()), update::Swap::Rejected) << c.what;
        EXPECT_FALSE(fs::exists(m_dir / "tillbay2.new")) << c.what;
        EXPECT_EQ(read(exe()), "old program") << c.what;
        EXPECT_EQ(key("staged"), "") << c.what;
        EXPECT_EQ(key("stagedsha"), "") << c.what;
        EXPECT_EQ(key("applied"), "") << c.what;
    }
}

TEST_F(SelfUpdateTest, StagingRefusesBeforeFetchingAnything)
{
    // No web host listens anywhere here: every case must fail before a download.
    os::http::Endpoint nowhere { "127.0.0.1", 9, os::http::Security::Plain };
    auto good_sha = std::string(64, 'a');
    struct Case {
        char const* what;
        update::VersionManifest manifest;
        std::optional<os::http::Endpoint> endpoint;
        std::string applied;
        std::string message;
    } cases[] = {
        { "no program", { .app_url = "/x" }, nowhere, "", "" },
        { "no address", { .app_version = "1.4.0", .app_sha256 = good_sha }, nowhere, "", "" },
        { "the same version", { .app_version = "1.3.191", .app_url = "/x", .app_sha256 = good_sha }, nowhere, "", "" },
        { "already applied", { .app_version = "1.3.200", .app_url = "/x", .app_sha256 = good_sha }, nowhere, "1.3.200", "" },
        { "63-digit hash", { .app_version = "1.4.0", .app_url = "/x", .app_sha256 = good_sha.substr(1) }, nowhere, "",
            "새 버전에 검증값(sha256)이 없어 받지 않았습니다" },
        { "no host for a path", { .app_version = "1.4.0", .app_url = "/x", .app_sha256 = good_sha }, std::nullopt, "",
            "받아올 서버를 알 수 없습니다" },
        { "ftp address", { .app_version = "1.4.0", .app_url = "ftp://h/x", .app_sha256 = good_sha }, nowhere, "",
            "주소를 해석할 수 없습니다" },
        { "no path", { .app_version = "1.4.0", .app_url = "https://host.example", .app_sha256 = good_sha }, nowhere, "",
            "주소를 해석할 수 없습니다" },
        { "a long host", { .app_version = "1.4.0", .app_url = "https://" + std::string(256, 'h') + "/x", .app_sha256 = good_sha },
            nowhere, "", "주소를 해석할 수 없습니다" },
    };
    for (auto const& c : cases) {
        ASSERT_TRUE(settings::write_profile("UPDATE", "applied",
            c.applied.empty() ? std::nullopt : std::optional<std::string_view>(c.applied)));
        auto staged = update::stage_program(c.manifest, c.endpoint, "1.3.191", m_dir.path());
        ASSERT_FALSE(staged) << c.what;
        EXPECT_EQ(staged.error().message, c.message) << c.what;
        EXPECT_FALSE(fs::exists(m_dir / "tillbay2.new")) << c.what;
    }
}

TEST_F(SelfUpdateTest, APlainPublicWebHostEndsTheCheckWithoutAState)
{
    bundle::Store store({ m_dir / "store", m_dir / "legacy", m_dir.path() });
    Recorder recorder;
    for (auto const* host : { "http://pos.example.com", "pos.example.com", "10.1.example.com", "http://8.8.8.8",
             "http://172.32.0.1", "http://localhost.example.com" }) {
        update::run_check(recorder.hooks(), { host, "1.3.191", m_dir.path(), &store });
    }
    EXPECT_TRUE(recorder.states.empty());
    EXPECT_TRUE(recorder.statuses.empty());
}

TEST(UpdateState, CommandAndScript)
{
    EXPECT_EQ(update::updstate_command("ui-fetch", "화면"), "\x01updstate</>ui-fetch</>화면");
    EXPECT_EQ(update::update_state_script("app-fail", "a\"b"),
        "window.setUpdateState&&setUpdateState(\"app-fail\",\"a\\\"b\")");
    for (auto const* held : { "app-fetch", "app-ready", "app-fail", "ui-fetch", "ui-fail" })
        EXPECT_TRUE(update::holds_sign_in(held)) << held;
    for (auto const* free : { "", "ui-retained", "server-old" })
        EXPECT_FALSE(update::holds_sign_in(free)) << free;
}
