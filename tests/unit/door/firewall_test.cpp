#include "os/firewall.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sys/stat.h>

using namespace tillbay::os::firewall;
using namespace std::chrono_literals;

namespace {

// Stand-ins for the firewall tools and pkexec: shell scripts that write
// down how they were called.
class FirewallTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / ("tb-firewall-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir / "bin");
        std::filesystem::create_directories(m_dir / "ufw");
        m_config.search_dirs = { (m_dir / "bin").string() };
        m_config.ufw_dir = (m_dir / "ufw").string();
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    void tool(std::string const& name, std::string const& body)
    {
        auto path = m_dir / "bin" / name;
        std::ofstream(path) << "#!/bin/sh\necho \"" << name << " $*\" >> " << (m_dir / "calls").string() << "\n" << body << "\n";
        ::chmod(path.c_str(), 0755);
    }
    std::string calls()
    {
        std::ifstream in(m_dir / "calls");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void firewalld(bool running)
    {
        tool("firewall-cmd", std::string("case \"$1\" in --state) exit ") + (running ? "0" : "252")
                + ";; --query-port=8787/tcp) exit 0;; --query-port=*) exit 1;; *) exit 0;; esac");
    }

    std::filesystem::path m_dir;
    Config m_config;
};

TEST_F(FirewallTools, NoToolMeansUnknown)
{
    auto firewall = system_firewall(m_config);
    State state = firewall->check(8787);
    EXPECT_EQ(state.tool, Tool::None);
    EXPECT_EQ(state.port_open, -1);
    EXPECT_EQ(firewall->open_port(8787, {}), Change::NoTool);
}

TEST_F(FirewallTools, FirewalldIsAskedForThePort)
{
    firewalld(true);
    auto firewall = system_firewall(m_config);
    EXPECT_EQ(firewall->check(8787).port_open, 1);
    EXPECT_EQ(firewall->check(9000).port_open, 0);
    EXPECT_TRUE(firewall->check(9000).active);
    firewalld(false);
    State stopped = firewall->check(8787);
    EXPECT_EQ(stopped.tool, Tool::Firewalld);
    EXPECT_FALSE(stopped.active);
    EXPECT_EQ(stopped.port_open, -1);
}

TEST_F(FirewallTools, UfwRulesAreReadWhenReadable)
{
    tool("ufw", "exit 0");
    std::ofstream(m_dir / "ufw" / "ufw.conf") << "# comment\nENABLED=yes\n";
    auto firewall = system_firewall(m_config);
    State unreadable = firewall->check(8787);
    EXPECT_EQ(unreadable.tool, Tool::Ufw);
    EXPECT_TRUE(unreadable.active);
    EXPECT_EQ(unreadable.port_open, -1);
    std::ofstream(m_dir / "ufw" / "user.rules") << "*filter\n### tuple ### allow tcp 8000:8800 0.0.0.0/0 any 0.0.0.0/0 in\n"
                                                   "### tuple ### deny tcp 9000 0.0.0.0/0 any 0.0.0.0/0 in\n";
    EXPECT_EQ(firewall->check(8787).port_open, 1);
    EXPECT_EQ(firewall->check(9000).port_open, 0);
}

TEST_F(FirewallTools, ChangesRunElevatedAndReportLater)
{
    firewalld(true);
    auto firewall = system_firewall(m_config);
    EXPECT_EQ(firewall->open_port(8787, {}), Change::NoElevator);

    tool("pkexec", "\"$@\"");
    std::promise<bool> opened;
    ASSERT_EQ(firewall->open_port(8790, [&](bool ok) { opened.set_value(ok); }), Change::Started);
    auto result = opened.get_future();
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(result.get());
    std::string fw = (m_dir / "bin" / "firewall-cmd").string();
    EXPECT_NE(calls().find("pkexec /bin/sh -c " + fw + " --permanent --add-port=8790/tcp && " + fw + " --add-port=8790/tcp"),
        std::string::npos)
        << calls();
    EXPECT_NE(calls().find("firewall-cmd --add-port=8790/tcp"), std::string::npos);

    // The user refuses: pkexec ends with 126 and the change reports false.
    tool("pkexec", "exit 126");
    std::promise<bool> closed;
    ASSERT_EQ(firewall->close_ports({ 8790, 8791 }, [&](bool ok) { closed.set_value(ok); }), Change::Started);
    auto refused = closed.get_future();
    ASSERT_EQ(refused.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(refused.get());
    EXPECT_NE(calls().find("--remove-port=8790/tcp; " + fw + " --remove-port=8790/tcp; " + fw
                  + " --permanent --remove-port=8791/tcp"),
        std::string::npos)
        << calls();
}

} // namespace
