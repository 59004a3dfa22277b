// The Debian package: built from this build tree by the packaging script,
// installed with dpkg into a root folder of the test's own, started through
// its launcher under Xvfb against the reference platform, where it reaches
// the sign-in page from a per-user copy, and purged without a trace.

#include "e2e_support.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Runs a command to its end; its exit status and output.
std::pair<int, std::string> run(std::vector<std::string> const& argv, std::string const& log)
{
    auto child = e2e::Child::start(argv, {}, log);
    auto status = child.wait_for_exit(300s);
    return { status.value_or(-1), e2e::read_text(log) };
}

std::vector<std::string> files_below(std::string const& root)
{
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (!it->is_directory())
            files.push_back(fs::relative(it->path(), root).string());
    return files;
}

} // namespace

TEST(DebianPackage, InstallsIntoItsOwnRootStartsFromAPerUserCopyAndPurges)
{
    char const* build = std::getenv("TB_BUILD_DIR");
    char const* source = std::getenv("TB_SOURCE_DIR");
    ASSERT_TRUE(build && source);
    std::string dir = e2e::make_temp_dir("tb-package");
    auto [built, deb_out] = run({ std::string(source) + "/tools/package/build-deb.sh", build, dir + "/out" }, dir + "/build.log");
    ASSERT_EQ(built, 0) << deb_out;
    std::string deb = deb_out.substr(0, deb_out.find('\n'));
    ASSERT_TRUE(deb.ends_with(".deb")) << deb_out;

    // A dpkg database of the test's own.
    std::string root = dir + "/root";
    std::string admin = root + "/var/lib/dpkg";
    fs::create_directories(admin + "/info");
    fs::create_directories(admin + "/updates");
    e2e::write_text(admin + "/status", "");
    std::vector<std::string> dpkg { "dpkg", "--root=" + root, "--admindir=" + admin, "--force-not-root",
        "--force-depends", "--force-script-chrootless", "--log=" + dir + "/dpkg.log" };
    auto install = dpkg;
    install.insert(install.end(), { "-i", deb });
    auto [installed, install_out] = run(install, dir + "/install.log");
    ASSERT_EQ(installed, 0) << install_out;
    auto files = files_below(root + "/usr");
    for (char const* expected : { "bin/tillbay", "lib/tillbay/tillbay", "lib/tillbay/webext/libtillbay-webext.so",
             "lib/tillbay/login.html", "share/applications/com.tillwave.Pos.desktop",
             "share/metainfo/com.tillwave.Pos.metainfo.xml", "share/icons/hicolor/256x256/apps/com.tillwave.Pos.png" })
        EXPECT_NE(std::find(files.begin(), files.end(), expected), files.end()) << expected;
    EXPECT_FALSE(fs::exists(root + "/opt"));
    for (auto const& f : files)
        EXPECT_EQ(f.find("tillbay-platform"), std::string::npos) << f;

    // The platform, and the settings init makes for it in the user's copy,
    // which the launcher keeps.
    int api = e2e::free_port(), relay = e2e::free_port(), web = e2e::free_port(), control = e2e::free_port();
    std::string platform = std::string(build) + "/tools/platform/tillbay-platform";
    std::string seed = dir + "/seed";
    auto [initialised, init_out] = run({ platform, "init", seed, "--api-port", std::to_string(api), "--relay-port",
                                           std::to_string(relay), "--web-port", std::to_string(web) },
        dir + "/init.log");
    ASSERT_EQ(initialised, 0) << init_out;
    std::string data = dir + "/home/.local/share";
    std::string copy = data + "/TillBay/program";
    fs::create_directories(copy);
    fs::copy_file(seed + "/tillbay.ini", copy + "/tillbay.ini");
    auto served = e2e::Child::start({ platform, "serve", "--data", seed + "/platform-data", "--api-port", std::to_string(api),
                                        "--relay-port", std::to_string(relay), "--web-port", std::to_string(web),
                                        "--control-port", std::to_string(control), "--ui", std::string(build) + "/ui-bundle" },
        {}, dir + "/platform.log");
    ASSERT_TRUE(e2e::wait_for([&] { return e2e::read_text(dir + "/platform.log").find("ready") != std::string::npos; }, 20s));

    int automation = e2e::free_port();
    {
        auto program = e2e::Child::start({ "xvfb-run", "-a", "-s", "-screen 0 1400x900x24", root + "/usr/bin/tillbay" },
            { "HOME=" + dir + "/home", "XDG_DATA_HOME=" + data, "TILLBAY_TESTPORT=" + std::to_string(automation),
                "WEBKIT_DISABLE_COMPOSITING_MODE=1", "NO_AT_BRIDGE=1", "DBUS_SESSION_BUS_ADDRESS=" },
            dir + "/tillbay.log");
        auto on_login = [&] {
            std::string doc = e2e::http(automation, "GET", "/doc").body;
            return e2e::json_field(doc, "class") == "1" && e2e::json_field(doc, "ready") == "true";
        };
        ASSERT_TRUE(e2e::wait_for(on_login, 90s)) << e2e::read_text(dir + "/tillbay.log");
        ASSERT_TRUE(e2e::wait_for(
            [&] {
                return e2e::json_field(e2e::http(automation, "POST", "/eval", "typeof window.setLoginMode").body, "value")
                    == "\"function\"";
            },
            20s));
        auto shot = e2e::http(automation, "GET", "/snapshot");
        EXPECT_EQ(shot.status, 200);
        std::string artefacts = std::string(build) + "/tests/e2e/package/artefacts";
        fs::create_directories(artefacts);
        e2e::write_text(artefacts + "/package-login.png", shot.body);
    }
    // The copy is the user's: the program, its screens, the kept settings
    // with the platform's key, and the package version it came from.
    EXPECT_TRUE(fs::exists(copy + "/tillbay"));
    EXPECT_TRUE(fs::exists(copy + "/webext/libtillbay-webext.so"));
    EXPECT_NE(e2e::read_text(copy + "/tillbay.ini").find("[UPDATE]"), std::string::npos);
    EXPECT_FALSE(e2e::read_text(copy + "/.package-version").empty());
    EXPECT_NE(e2e::read_text(data + "/TillBay/bridge.log").find("UI"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(copy.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    auto purge = dpkg;
    purge.insert(purge.end(), { "--purge", "tillbay" });
    auto [purged, purge_out] = run(purge, dir + "/purge.log");
    EXPECT_EQ(purged, 0) << purge_out;
    EXPECT_TRUE(files_below(root + "/usr").empty());
    served.stop();
    fs::remove_all(dir);
}
