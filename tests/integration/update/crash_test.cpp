// Crash safety of the bundle store with real processes: installers killed at
// many moments, two installers at once, and a release leased by a running
// program while another program prunes.

#include "process.h"
#include "tests/unit/update/fixture.h"
#include "tiny_server.h"
#include "update/bundle_store.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace tillbay;
using namespace tillbay::test;
namespace fs = std::filesystem;

namespace {

// A bundle of count files of size bytes each, tagged so that two bundles differ.
Files big_bundle(std::string const& tag, int count, size_t size)
{
    auto files = pages(tag);
    for (int i = 0; static_cast<int>(files.size()) < count; ++i) {
        std::string content(size, static_cast<char>('a' + i % 26));
        content.replace(0, tag.size(), tag);
        files["js/part" + std::to_string(i) + ".js"] = content;
    }
    return files;
}

class StoreProcesses : public ::testing::Test {
protected:
    std::string store() const { return m_dir / "store"; }
    bundle::Layout layout() const { return { store() + "/ui-bundles", store() + "/legacy", "" }; }
    // An installation folder with its version.json.
    std::string installation(std::string const& name, std::string const& version, Files const& files)
    {
        auto dir = m_dir / name;
        write_files(dir, files);
        write(dir + "/version.json", version_json(manifest_of(version, files)));
        return dir;
    }
    std::vector<std::string> install_args(std::string const& dir, std::string const& web_host = {})
    {
        std::vector<std::string> args { INSTALLER, "install", store(), dir, dir + "/version.json" };
        if (!web_host.empty())
            args.push_back(web_host);
        return args;
    }
    std::string id_of(std::string const& version, Files const& files)
    {
        auto m = manifest_of(version, files);
        return update::build_bundle_manifest(m.ui_version, m.files, m.sha256).value().release_id;
    }
    std::optional<update::ActivePointer> active()
    {
        auto path = store() + "/ui-bundles/.active";
        if (!fs::exists(path))
            return std::nullopt;
        return update::parse_active(read(path));
    }
    bool has_staging_leftovers()
    {
        for (auto const& e : fs::directory_iterator(store() + "/ui-bundles"))
            if (e.path().filename().string().starts_with(".stage-"))
                return true;
        return false;
    }

    TempDir m_dir;
};

} // namespace

TEST_F(StoreProcesses, KillingAnInstallerAtAnyMomentLeavesAVerifiedRelease)
{
    auto files_a = big_bundle("A", 64, 16 * 1024);
    auto files_b = big_bundle("B", 64, 16 * 1024);
    auto dir_a = installation("inst-a", "1.0-a", files_a);
    auto dir_b = installation("inst-b", "1.0-b", files_b);
    auto id_a = id_of("1.0-a", files_a);
    auto id_b = id_of("1.0-b", files_b);

    // A full install, timed, gives the span the kill points spread over.
    // The span is that of an install over an existing release, which also
    // verifies the release in use and prunes.
    ASSERT_NE(run(install_args(dir_a)).find("switched []"), std::string::npos);
    std::chrono::microseconds span;
    {
        Child first(install_args(dir_b));
        ASSERT_TRUE(first.wait_for("installing"));
        auto started = std::chrono::steady_clock::now();
        ASSERT_NE(first.read_all().find("switched []"), std::string::npos);
        span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    }
    auto snapshot_outside = [&] {
        std::vector<std::string> names;
        for (auto const& e : fs::recursive_directory_iterator(m_dir.path()))
            if (!e.path().string().starts_with(store()))
                names.push_back(e.path());
        std::sort(names.begin(), names.end());
        return names;
    };
    auto outside = snapshot_outside();

    constexpr int kill_points = 40;
    int killed_before_switch = 0;
    for (int i = 0; i < kill_points; ++i) {
        bool to_b = i % 2 == 1;
        auto const& dir = to_b ? dir_b : dir_a;
        auto const& target = to_b ? id_b : id_a;
        auto const& other = to_b ? id_a : id_b;
        // Kill points spread geometrically from 50 µs to the whole span: the
        // flushes at the end of an install take most of its time, and the
        // early points are the ones that land inside the copying.
        auto delay = std::chrono::microseconds(static_cast<long long>(
            50.0 * std::pow(std::max(1.0, span.count() / 50.0), static_cast<double>(i) / (kill_points - 1))));
        {
            Child installer(install_args(dir));
            ASSERT_TRUE(installer.wait_for("installing"));
            std::this_thread::sleep_for(delay);
            installer.kill_now();
        }
        // Whatever the moment, the pointer names a verified release, either
        // the old one or the new one, and a new start uses it.
        auto pointer = active();
        ASSERT_TRUE(pointer) << "kill point " << i;
        EXPECT_TRUE(pointer->current == target || pointer->current == other) << "kill point " << i;
        killed_before_switch += pointer->current == other;
        bundle::Store checker(layout());
        EXPECT_TRUE(checker.verify_release(pointer->current)) << "kill point " << i;
        bundle::Store next_start(layout());
        EXPECT_TRUE(next_start.leased()) << "kill point " << i;
        EXPECT_EQ(next_start.root(), store() + "/ui-bundles/" + pointer->current) << "kill point " << i;

        // The interrupted install completes on the next try.
        auto finished = run(install_args(dir));
        EXPECT_NE(finished.find(" []"), std::string::npos) << finished;
        auto after = active();
        ASSERT_TRUE(after);
        EXPECT_EQ(after->current, target) << "kill point " << i;
        EXPECT_FALSE(has_staging_leftovers()) << "kill point " << i;
    }
    EXPECT_EQ(snapshot_outside(), outside) << "nothing was written outside the store";
    EXPECT_GT(killed_before_switch, 0) << "some kills must land inside an install";
    std::printf("%d of %d kills landed before the switch\n", killed_before_switch, kill_points);
}

TEST_F(StoreProcesses, ASecondInstallerGetsTheBusyMessage)
{
    TinyServer server;
    auto files = pages("net");
    auto manifest = manifest_of("2.0-net", files);
    for (auto const& [name, content] : files)
        server.set("/v2/pos/ui/" + name, content);
    auto net_dir = m_dir / "inst-net";
    write(net_dir + "/version.json", version_json(manifest));
    auto local_dir = installation("inst-local", "1.0-local", pages("local"));

    server.close_gate();
    Child first(install_args(net_dir, server.web_host()));
    for (int i = 0; i < 200 && server.waiting() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(server.waiting(), 1) << "the first installer is downloading";

    auto second = run(install_args(local_dir));
    EXPECT_NE(second.find("unchanged [다른 프로그램이 화면 묶음을 준비 중입니다]"), std::string::npos) << second;
    EXPECT_FALSE(active()) << "the second installer changed nothing";

    server.open_gate();
    first.close_stdin();
    auto const& out = first.read_all();
    EXPECT_NE(out.find("switched []"), std::string::npos) << out;
    EXPECT_EQ(active()->current, id_of("2.0-net", files));
    EXPECT_NE(run(install_args(local_dir)).find("switched []"), std::string::npos) << "the lock was released";
}

TEST_F(StoreProcesses, AReleaseLeasedByARunningProgramSurvivesAnotherProgramsPrune)
{
    auto dir_a = installation("inst-a", "1.0", pages("a"));
    ASSERT_NE(run(install_args(dir_a)).find("switched []"), std::string::npos);
    auto id_a = id_of("1.0", pages("a"));

    Child holder({ INSTALLER, "hold", store() });
    ASSERT_TRUE(holder.wait_for("leased 1")) << holder.output();
    EXPECT_NE(holder.output().find(id_a), std::string::npos);

    for (auto const* tag : { "b", "c", "d" })
        ASSERT_NE(run(install_args(installation(std::string("inst-") + tag, std::string("1.0-") + tag, pages(tag))))
                      .find("switched []"),
            std::string::npos);
    EXPECT_NE(active()->current, id_a);
    EXPECT_NE(active()->previous, id_a);
    bundle::Store checker(layout());
    EXPECT_TRUE(checker.verify_release(id_a)) << "the leased release is still whole";
    EXPECT_FALSE(fs::exists(store() + "/ui-bundles/" + id_of("1.0-b", pages("b")))) << "an unleased one went";

    holder.close_stdin();
    holder.wait();
    ASSERT_NE(run(install_args(installation("inst-e", "1.0-e", pages("e")))).find("switched []"), std::string::npos);
    EXPECT_FALSE(fs::exists(store() + "/ui-bundles/" + id_a)) << "pruned once its program ended";
}
