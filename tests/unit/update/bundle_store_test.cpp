#include "update/bundle_store.h"

#include "fixture.h"
#include "os/filelock.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tillbay;
using namespace tillbay::test;
namespace fs = std::filesystem;

namespace {

class StoreTest : public ::testing::Test {
protected:
    bundle::Layout layout() const { return { m_dir / "store", m_dir / "legacy", m_dir / "install" }; }
    std::string store_dir() const { return m_dir / "store"; }
    std::string active() const { return read(store_dir() + "/.active"); }
    std::vector<std::string> releases() const
    {
        std::vector<std::string> names;
        if (!fs::exists(store_dir()))
            return names;
        for (auto const& entry : fs::directory_iterator(store_dir()))
            if (entry.is_directory())
                names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    // Installs files as a release without any web host, from the installation folder.
    bundle::InstallOutcome install_local(bundle::Store& store, std::string const& version, Files const& files)
    {
        write_files(m_dir / "install", files);
        return store.install(std::nullopt, manifest_of(version, files));
    }
    std::string id_of(std::string const& version, Files const& files)
    {
        auto m = manifest_of(version, files);
        return update::build_bundle_manifest(m.ui_version, m.files, m.sha256).value().release_id;
    }

    TempDir m_dir;
};

} // namespace

TEST_F(StoreTest, WithoutReleasesTheLegacyFolderIsUsed)
{
    write(m_dir / "legacy/.version", "0.9-old\r\n");
    bundle::Store store(layout());
    EXPECT_EQ(store.root(), m_dir / "legacy");
    EXPECT_EQ(store.ui_version(), "0.9-old");
    EXPECT_FALSE(store.leased());
}

TEST_F(StoreTest, InstallsAReleaseThatTheNextProcessUses)
{
    bundle::Store first(layout());
    auto outcome = install_local(first, "1.0", pages("a"));
    EXPECT_TRUE(outcome.switched);
    EXPECT_EQ(outcome.error, "");
    auto id = id_of("1.0", pages("a"));
    EXPECT_EQ(active(), id + "\n\n");
    // The running process keeps what it chose: the legacy folder.
    EXPECT_EQ(first.root(), m_dir / "legacy");

    bundle::Store next(layout());
    EXPECT_EQ(next.root(), store_dir() + "/" + id);
    EXPECT_EQ(next.ui_version(), "1.0");
    EXPECT_TRUE(next.leased());
    EXPECT_EQ(read(store_dir() + "/" + id + "/css/app.css"), "body{color:a}");
    EXPECT_TRUE(next.page_exists("ui/orders.html"));
    EXPECT_FALSE(next.page_exists("missing.html"));
    EXPECT_FALSE(next.page_exists("../install/login.html"));

    // The same manifest again, with its folder in use: nothing to do, no error.
    auto again = install_local(next, "1.0", pages("a"));
    EXPECT_FALSE(again.switched);
    EXPECT_EQ(again.error, "");
    // For a process still on the legacy folder, it is a switch.
    EXPECT_TRUE(install_local(first, "1.0", pages("a")).switched);
}

TEST_F(StoreTest, ResolveFileServesTheBundleAndNeverLeavesIt)
{
    write(m_dir / "install/manual.pdf", "pdf");
    {
        bundle::Store legacy(layout());
        // Without a verified release the installation copy is the fallback.
        EXPECT_EQ(legacy.resolve_file("manual.pdf").value(), m_dir / "install/manual.pdf");
    }
    bundle::Store first(layout());
    ASSERT_TRUE(install_local(first, "1.0", pages("a")).switched);
    bundle::Store store(layout());
    auto root = *store.root();
    EXPECT_EQ(store.resolve_file("css/app.css").value(), root + "/css/app.css");
    EXPECT_FALSE(store.resolve_file("manual.pdf")) << "a verified release never falls back";
    for (auto const* bad : { "../install/login.html", "/etc/passwd", "css/../login.html", "", "a//b", ".manifest", ".lease" })
        EXPECT_FALSE(store.resolve_file(bad)) << bad;
    // A link planted in a release is not followed.
    fs::create_symlink("/etc/hostname", root + "/linked.html");
    EXPECT_FALSE(store.resolve_file("linked.html"));
}

TEST_F(StoreTest, RefusesBrokenListsAndChangesNothing)
{
    bundle::Store store(layout());
    ASSERT_TRUE(install_local(store, "1.0", pages("a")).switched);
    auto before = active();
    auto folders = releases();

    struct Case {
        char const* what;
        update::VersionManifest manifest;
    };
    std::vector<Case> cases;
    auto base = manifest_of("2.0", pages("b"));
    auto add = [&](char const* what, auto change) {
        auto m = base;
        change(m);
        cases.push_back({ what, m });
    };
    add("reserved device name", [](auto& m) { m.files.push_back("ui/CON.html"); m.sha256.push_back(std::string(64, 'a')); });
    add("parent segment", [](auto& m) { m.files.push_back("ui/a/../../../evil.js"); m.sha256.push_back(std::string(64, 'a')); });
    add("hidden file", [](auto& m) { m.files.push_back(".hidden"); m.sha256.push_back(std::string(64, 'a')); });
    add("letter-case duplicate", [](auto& m) { m.files.push_back("ui/LOGIN.html"); m.sha256.push_back(m.sha256[0]); });
    add("63-digit hash", [](auto& m) { m.sha256[0].pop_back(); });
    add("129 files", [](auto& m) {
        for (int i = 0; m.files.size() < 129; ++i) {
            m.files.push_back("f" + std::to_string(i) + ".js");
            m.sha256.push_back(std::string(64, 'a'));
        }
    });
    add("broken array", [](auto& m) { m.lists_valid = false; });
    add("no version", [](auto& m) { m.ui_version.clear(); });
    for (auto const& c : cases) {
        auto outcome = store.install(std::nullopt, c.manifest);
        EXPECT_FALSE(outcome.switched) << c.what;
        EXPECT_EQ(outcome.error, bundle::text::bad_list) << c.what;
        EXPECT_EQ(active(), before) << c.what;
        EXPECT_EQ(releases(), folders) << c.what;
    }
    EXPECT_FALSE(fs::exists(m_dir.path() + "/evil.js"));
}

TEST_F(StoreTest, WithoutAWebHostMissingFilesFailTheInstall)
{
    bundle::Store store(layout());
    auto files = pages("a");
    auto outcome = store.install(std::nullopt, manifest_of("1.0", files)); // nothing written locally
    EXPECT_FALSE(outcome.switched);
    EXPECT_EQ(outcome.error, bundle::text::incomplete);
    EXPECT_FALSE(fs::exists(store_dir() + "/.active"));
    EXPECT_TRUE(releases().empty()) << "the staging folder is removed";
}

TEST_F(StoreTest, UnchangedFilesComeFromTheBundleInUse)
{
    {
        bundle::Store first(layout());
        ASSERT_TRUE(install_local(first, "1.0", pages("a")).switched);
    }
    fs::remove_all(m_dir / "install");
    bundle::Store store(layout());
    ASSERT_TRUE(store.leased());
    // Only orders.html changed, and it is the only file in the installation folder.
    auto files = pages("a");
    files["orders.html"] = "<p>orders b</p>";
    write(m_dir / "install/orders.html", files["orders.html"]);
    EXPECT_TRUE(store.install(std::nullopt, manifest_of("1.1", files)).switched);
}

TEST_F(StoreTest, RollBackHoldsTheReleaseBackUntilCleared)
{
    bundle::Store store(layout());
    ASSERT_TRUE(install_local(store, "1.0", pages("a")).switched);
    ASSERT_TRUE(install_local(store, "2.0", pages("b")).switched);
    auto a = id_of("1.0", pages("a"));
    auto b = id_of("2.0", pages("b"));
    EXPECT_EQ(active(), b + "\n" + a + "\n");

    ASSERT_TRUE(store.roll_back());
    EXPECT_EQ(active(), a + "\n\n" + b);
    EXPECT_FALSE(store.roll_back()) << "no previous release any more";

    auto refused = install_local(store, "2.0", pages("b"));
    EXPECT_FALSE(refused.switched);
    EXPECT_EQ(refused.error, bundle::text::held_back);
    EXPECT_EQ(active(), a + "\n\n" + b);

    ASSERT_TRUE(store.clear_held_back());
    EXPECT_EQ(active(), a + "\n\n");
    EXPECT_TRUE(install_local(store, "2.0", pages("b")).switched);
    EXPECT_EQ(active(), b + "\n" + a + "\n");
}

TEST_F(StoreTest, PruneKeepsTheNamedAndTheLeasedReleases)
{
    bundle::Store installer(layout());
    ASSERT_TRUE(install_local(installer, "1.0", pages("a")).switched);
    auto a = id_of("1.0", pages("a"));
    // Another program starts on release a and keeps its lease.
    bundle::Store user_of_a(layout());
    ASSERT_EQ(user_of_a.root(), store_dir() + "/" + a);

    ASSERT_TRUE(install_local(installer, "2.0", pages("b")).switched);
    ASSERT_TRUE(install_local(installer, "3.0", pages("c")).switched);
    ASSERT_TRUE(install_local(installer, "4.0", pages("d")).switched);
    auto b = id_of("2.0", pages("b"));
    auto c = id_of("3.0", pages("c"));
    auto d = id_of("4.0", pages("d"));
    EXPECT_EQ(active(), d + "\n" + c + "\n");
    std::vector<std::string> expected { a, c, d };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(releases(), expected) << "b went; a stays while its program holds the lease";
    EXPECT_FALSE(fs::exists(store_dir() + "/" + b));
    EXPECT_EQ(read(store_dir() + "/" + a + "/login.html"), "<p>login a</p>") << "the leased release is whole";
    EXPECT_TRUE(user_of_a.verify_release(a));
}

TEST_F(StoreTest, ALeaseEndsWithItsStore)
{
    bundle::Store installer(layout());
    ASSERT_TRUE(install_local(installer, "1.0", pages("a")).switched);
    auto a = id_of("1.0", pages("a"));
    {
        bundle::Store user_of_a(layout());
        ASSERT_TRUE(user_of_a.leased());
        ASSERT_TRUE(install_local(installer, "2.0", pages("b")).switched);
        ASSERT_TRUE(install_local(installer, "3.0", pages("c")).switched);
        EXPECT_TRUE(fs::exists(store_dir() + "/" + a));
    }
    ASSERT_TRUE(install_local(installer, "4.0", pages("d")).switched);
    EXPECT_FALSE(fs::exists(store_dir() + "/" + a));
}

TEST_F(StoreTest, ASecondInstallerGetsTheBusyMessage)
{
    bundle::Store store(layout());
    ASSERT_TRUE(install_local(store, "1.0", pages("a")).switched);
    auto before = active();
    auto held = os::FileLock::exclusive(store_dir() + "/.update.lock");
    ASSERT_TRUE(held);
    auto outcome = install_local(store, "2.0", pages("b"));
    EXPECT_FALSE(outcome.switched);
    EXPECT_EQ(outcome.error, bundle::text::busy);
    EXPECT_EQ(active(), before);
    EXPECT_FALSE(store.clear_held_back());
    EXPECT_EQ(store.roll_back().error().message, bundle::text::rollback_failed);
}

TEST_F(StoreTest, DamagedReleasesAreSkippedAndBypassed)
{
    bundle::Store installer(layout());
    ASSERT_TRUE(install_local(installer, "1.0", pages("a")).switched);
    ASSERT_TRUE(install_local(installer, "2.0", pages("b")).switched);
    auto a = id_of("1.0", pages("a"));
    auto b = id_of("2.0", pages("b"));
    write(store_dir() + "/" + b + "/orders.html", "tampered");

    // Resolve skips the damaged current release for the previous one.
    bundle::Store store(layout());
    EXPECT_EQ(store.root(), store_dir() + "/" + a);
    EXPECT_EQ(store.ui_version(), "1.0");

    // Installing b again cannot reuse its damaged folder: a suffixed id.
    auto outcome = install_local(installer, "2.0", pages("b"));
    EXPECT_TRUE(outcome.switched);
    auto pointer = update::parse_active(active());
    ASSERT_TRUE(pointer);
    EXPECT_EQ(pointer->current.size(), 83u);
    EXPECT_TRUE(update::same_release_content(pointer->current, b));
    EXPECT_EQ(pointer->previous, a);
    EXPECT_TRUE(installer.verify_release(pointer->current));
    EXPECT_FALSE(fs::exists(store_dir() + "/" + b)) << "the damaged folder is pruned, not reused";
}

TEST_F(StoreTest, UnreadablePointersCountAsAbsent)
{
    bundle::Store installer(layout());
    ASSERT_TRUE(install_local(installer, "1.0", pages("a")).switched);
    auto a = id_of("1.0", pages("a"));
    for (std::string bad : std::vector<std::string> { a + "\n\n\n", a + "\n", "garbage", std::string(300, 'r') }) {
        write(store_dir() + "/.active", bad);
        bundle::Store store(layout());
        EXPECT_EQ(store.root(), m_dir / "legacy") << bad;
        EXPECT_FALSE(store.leased());
    }
    // An install starts from an empty pointer and reuses the verified folder.
    write(store_dir() + "/.active", a + "\n\n\n");
    bundle::Store store(layout());
    EXPECT_TRUE(install_local(store, "1.0", pages("a")).switched);
    EXPECT_EQ(active(), a + "\n\n");
}

TEST_F(StoreTest, LinksInsideTheStoreAreNeverFollowed)
{
    TempDir outside;
    write(outside / "keep.txt", "keep");
    bundle::Store installer(layout());
    ASSERT_TRUE(install_local(installer, "1.0", pages("a")).switched);
    auto a = id_of("1.0", pages("a"));
    // A leftover staging folder holding a link to a folder outside the store,
    // and a staging "folder" that is itself a link.
    fs::create_directories(store_dir() + "/.stage-1-1");
    fs::create_directory_symlink(outside.path(), store_dir() + "/.stage-1-1/out");
    fs::create_directory_symlink(outside.path(), store_dir() + "/.stage-2-2");
    // A release whose file was replaced by a link fails verification.
    auto file = store_dir() + "/" + a + "/login.html";
    fs::remove(file);
    fs::create_symlink(m_dir / "install/login.html", file);
    EXPECT_FALSE(installer.verify_release(a));

    EXPECT_TRUE(install_local(installer, "2.0", pages("b")).switched);
    EXPECT_FALSE(fs::exists(store_dir() + "/.stage-1-1"));
    EXPECT_TRUE(fs::is_symlink(store_dir() + "/.stage-2-2"));
    EXPECT_EQ(read(outside / "keep.txt"), "keep");
}

TEST_F(StoreTest, SeedFromTheInstallationSwitchesThisRun)
{
    auto files = pages("s");
    write_files(m_dir / "install", files);
    write(m_dir / "install/version.json", version_json(manifest_of("1.3.191-seed", files)));
    bundle::Store store(layout());
    auto outcome = store.seed_from_installation();
    EXPECT_TRUE(outcome.switched);
    EXPECT_TRUE(store.leased());
    EXPECT_EQ(store.ui_version(), "1.3.191-seed");
    EXPECT_EQ(store.root(), store_dir() + "/" + id_of("1.3.191-seed", files));
    // With a verified release in use, seeding does nothing.
    EXPECT_FALSE(store.seed_from_installation().switched);
}

TEST_F(StoreTest, AStoreOnceReadIsPinned)
{
    bundle::Store store(layout());
    EXPECT_TRUE(store.set_layout(layout()));
    (void)store.root();
    EXPECT_FALSE(store.set_layout(layout()));
}

TEST(WebHostSuffix, KeepsHostsApart)
{
    std::string production = "https://pos.example.kr";
    struct Case {
        char const* web_host;
        char const* suffix;
    } cases[] = {
        { "https://pos.example.kr", "" },
        { "HTTPS://POS.EXAMPLE.KR", "" },
        { "", "" },
        { "https://", "" },
        { "http://127.0.0.1:8080/x", "-127.0.0.1_8080" },
        { "test.example.kr", "-test.example.kr" },
        { "https://a b/c", "-a_b" },
    };
    for (auto const& c : cases)
        EXPECT_EQ(bundle::web_host_suffix(c.web_host, production), c.suffix) << c.web_host;
    auto long_suffix = bundle::web_host_suffix("https://" + std::string(200, 'h'), production);
    EXPECT_EQ(long_suffix, "-" + std::string(62, 'h'));
}
