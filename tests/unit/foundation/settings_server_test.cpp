// The server settings record, its state, the one-time migration, the text
// reader's cuts and the client secrets.

#include "foundation/builtin_defaults.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "os/crypto.h"
#include "os/fs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

using namespace tillbay;

namespace {

class ServerSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tb-server-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        paths::set_exe_dir_for_testing(m_dir + "/exe");
        ASSERT_TRUE(os::make_dir(m_dir + "/exe").ok());
        m_path = m_dir + "/exe/tillbay.ini";
        if (char const* old = std::getenv("LOCALAPPDATA"))
            m_old_localappdata = old;
        ::setenv("LOCALAPPDATA", (m_dir + "/user").c_str(), 1);
        (void)settings::take_migrated_flag();
    }
    void TearDown() override
    {
        if (m_old_localappdata)
            ::setenv("LOCALAPPDATA", m_old_localappdata->c_str(), 1);
        else
            ::unsetenv("LOCALAPPDATA");
        paths::set_exe_dir_for_testing({});
        std::filesystem::remove_all(m_dir);
    }

    void write(std::string const& content) { ASSERT_TRUE(os::write_file(m_path, content).ok()); }
    std::string content() const
    {
        auto read = os::read_file(m_path, 1 << 20);
        return read.ok() ? read.value() : "<missing>";
    }
    std::string bridge_log() const
    {
        auto read = os::read_file(m_dir + "/user/TillBay/bridge.log", 1 << 20);
        return read.ok() ? read.value() : "";
    }

    std::string m_dir;
    std::string m_path;
    std::optional<std::string> m_old_localappdata;
};

TEST_F(ServerSettingsTest, NoFileGivesEveryDefault)
{
    settings::read_server_settings();
    auto const& s = settings::server();
    EXPECT_EQ(settings::state(), settings::State::NoFile);
    EXPECT_EQ(s.host, settings::builtin_host());
    EXPECT_EQ(s.webhost, settings::builtin_webhost());
    EXPECT_EQ(s.port, 9000);
    EXPECT_EQ(s.relayport, 2626);
    EXPECT_EQ(s.storeidx, 0);
    EXPECT_EQ(s.devicetype, 1);
    EXPECT_TRUE(s.tls);
    EXPECT_EQ(s.tlsfp, "");
    EXPECT_FALSE(os::file_exists(m_path));
}

struct RecordCase {
    char const* what;
    std::string file;
    settings::State state;
    std::string host;
    std::string webhost;
    int port;
    int relayport;
    int storeidx;
    int devicetype;
    bool tls;
    std::string tlsfp;
};

TEST_F(ServerSettingsTest, RecordTakesValuesAndFallsBackOutOfRange)
{
    std::string const builtin = settings::builtin_host();
    std::string const web = settings::builtin_webhost();
    std::string const fp(100, 'a');
    std::vector<RecordCase> const cases = {
        { "a full file", "[SERVER]\r\nhost=pos.example.com\r\nwebhost=https://w.example.com\r\nport=9443\r\n"
                         "relayport=2627\r\ntls=1\r\ntlsfp=ABCD\r\n[STORE]\r\nstoreidx=1000000\r\ndevicetype=99\r\n",
            settings::State::Ok, "pos.example.com", "https://w.example.com", 9443, 2627, 1000000, 99, true, "ABCD" },
        { "out-of-range numbers", "[SERVER]\r\nport=70000\r\nrelayport=0\r\n[STORE]\r\nstoreidx=1000001\r\ndevicetype=0\r\n",
            settings::State::Ok, builtin, web, 9000, 2626, 0, 1, true, "" },
        { "negative numbers", "[SERVER]\r\nport=-1\r\nrelayport=-2626\r\n[STORE]\r\nstoreidx=-5\r\ndevicetype=100\r\n",
            settings::State::Ok, builtin, web, 9000, 2626, 0, 1, true, "" },
        { "a Korean host gives the built-in host and web address",
            "[SERVER]\r\nhost=api.틸웨이브.kr\r\nport=9443\r\n", settings::State::Ok, builtin, web, 9443, 2626, 0, 1, true,
            "" },
        { "a custom host is also the web host, without a scheme", "[SERVER]\r\nhost=10.0.0.5\r\n", settings::State::Ok,
            "10.0.0.5", "10.0.0.5", 9000, 2626, 0, 1, true, "" },
        { "a non-ASCII web host falls back to the host", "[SERVER]\r\nhost=h.example\r\nwebhost=ü\r\n",
            settings::State::Ok, "h.example", "h.example", 9000, 2626, 0, 1, true, "" },
        { "TLS off and a long fingerprint", "[SERVER]\r\nport=9000\r\ntls=0\r\ntlsfp=" + fp + "\r\n", settings::State::Ok,
            builtin, web, 9000, 2626, 0, 1, false, fp.substr(0, 79) },
        { "a file without SERVER port or host", "[PRINTER]\r\nwidth=58\r\n[SERVER]\r\ntls=1\r\n",
            settings::State::MissingServer, builtin, web, 9000, 2626, 0, 1, true, "" },
        { "an empty port does not count", "[SERVER]\r\nport=\r\n", settings::State::MissingServer, builtin, web, 9000,
            2626, 0, 1, true, "" },
        { "a long host is cut to 127 bytes", "[SERVER]\r\nhost=" + std::string(200, 'h') + "\r\n", settings::State::Ok,
            std::string(127, 'h'), std::string(127, 'h'), 9000, 2626, 0, 1, true, "" },
        { "a file saved with a mark and LF lines", "\xEF\xBB\xBF[SERVER]\nhost=m.example\nport=9443\n",
            settings::State::Ok, "m.example", "m.example", 9443, 2626, 0, 1, true, "" },
    };
    for (auto const& c : cases) {
        write(c.file);
        settings::read_server_settings();
        auto const& s = settings::server();
        EXPECT_EQ(settings::state(), c.state) << c.what;
        EXPECT_EQ(s.host, c.host) << c.what;
        EXPECT_EQ(s.webhost, c.webhost) << c.what;
        EXPECT_EQ(s.port, c.port) << c.what;
        EXPECT_EQ(s.relayport, c.relayport) << c.what;
        EXPECT_EQ(s.storeidx, c.storeidx) << c.what;
        EXPECT_EQ(s.devicetype, c.devicetype) << c.what;
        EXPECT_EQ(s.tls, c.tls) << c.what;
        EXPECT_EQ(s.tlsfp, c.tlsfp) << c.what;
    }
}

TEST_F(ServerSettingsTest, ReadingNormalisesTheFileOnce)
{
    write("\xEF\xBB\xBF[SERVER]\nhost=m.example\n");
    settings::read_server_settings();
    EXPECT_EQ(content(), "[SERVER]\r\nhost=m.example\r\n");
}

struct MigrationCase {
    char const* what;
    std::string file;
    bool migrates;
    bool pins;
};

TEST_F(ServerSettingsTest, MigratesOnlyTheOldPlainTextDefaults)
{
    std::string const test_host = builtin::test_server_host();
    std::vector<MigrationCase> const cases = {
        { "no tls key", "[SERVER]\r\nhost=pos.example\r\nport=9000\r\nrelayport=2626\r\n", true, false },
        { "tls 0", "[SERVER]\r\ntls=0\r\nport=9000\r\nrelayport=2626\r\n", true, false },
        { "the old test server gets its fingerprint",
            "[SERVER]\r\nhost=" + test_host + "\r\nport=9000\r\nrelayport=2626\r\n", true, true },
        { "port 9001", "[SERVER]\r\nport=9001\r\nrelayport=2626\r\n", false, false },
        { "tls 1", "[SERVER]\r\ntls=1\r\nport=9000\r\nrelayport=2626\r\n", false, false },
        { "a fingerprint is set", "[SERVER]\r\ntlsfp=ab\r\nport=9000\r\nrelayport=2626\r\n", false, false },
        { "relay port missing", "[SERVER]\r\nport=9000\r\n", false, false },
        { "tls off but spelled differently", "[SERVER]\r\ntls=00\r\nport=9000\r\nrelayport=2626\r\n", false, false },
    };
    for (auto const& c : cases) {
        write(c.file);
        auto log_before = bridge_log().size();
        settings::migrate_old_server_settings();
        EXPECT_EQ(settings::take_migrated_flag(), c.migrates) << c.what;
        EXPECT_FALSE(settings::take_migrated_flag()) << c.what;
        auto log_added = bridge_log().substr(log_before);
        if (!c.migrates) {
            EXPECT_EQ(content(), c.file) << c.what;
            EXPECT_EQ(log_added.find("INI"), std::string::npos) << c.what;
            continue;
        }
        settings::read_server_settings();
        auto const& s = settings::server();
        EXPECT_TRUE(s.tls) << c.what;
        EXPECT_EQ(s.port, 9443) << c.what;
        EXPECT_EQ(s.relayport, 2627) << c.what;
        EXPECT_EQ(s.tlsfp, c.pins ? builtin::test_server_fingerprint() : "") << c.what;
        EXPECT_NE(log_added.find(" INI 옛 기본값(평문 9000/2626) → 암호화(9443/2627)로 옮김"), std::string::npos)
            << c.what << ": " << log_added;
        EXPECT_NE(log_added.find(c.pins ? " · 테스트 지문 넣음" : " · 운영(정식 인증서, 지문 없음)"), std::string::npos)
            << c.what;
        // A second start finds nothing to migrate.
        auto migrated = content();
        settings::migrate_old_server_settings();
        EXPECT_FALSE(settings::take_migrated_flag()) << c.what;
        EXPECT_EQ(content(), migrated) << c.what;
    }
}

TEST_F(ServerSettingsTest, AMigrationThatCannotWriteChangesNothing)
{
    std::string const old = "[SERVER]\r\nport=9000\r\nrelayport=2626\r\n";
    write(old);
    ASSERT_TRUE(os::make_dir(m_path + ".tmp").ok());
    settings::migrate_old_server_settings();
    EXPECT_FALSE(settings::take_migrated_flag());
    EXPECT_EQ(content(), old);
    EXPECT_NE(bridge_log().find(" INI 옛 기본값을 옮기지 못했습니다"), std::string::npos);
}

TEST_F(ServerSettingsTest, MigrationWithoutAFileCreatesNothing)
{
    settings::migrate_old_server_settings();
    EXPECT_FALSE(os::file_exists(m_path));
    EXPECT_FALSE(settings::take_migrated_flag());
}

TEST_F(ServerSettingsTest, ReadTextCutsOnCharacterBoundaries)
{
    write("[LOGIN]\r\nid=가나다\r\nlong=" + std::string(600, 'x') + "\r\nwide=" + std::string(600, '\xEA') + "\r\n");
    EXPECT_EQ(settings::read_text("LOGIN", "id", 128), "가나다");
    EXPECT_EQ(settings::read_text("LOGIN", "id", 5), "가");
    EXPECT_EQ(settings::read_text("LOGIN", "id", 3), "");
    EXPECT_EQ(settings::read_text("LOGIN", "id", 1), "");
    EXPECT_EQ(settings::read_text("LOGIN", "id", 0), "");
    EXPECT_EQ(settings::read_text("LOGIN", "long", 1024), std::string(511, 'x'));
    EXPECT_EQ(settings::read_text("LOGIN", "long", 80), std::string(79, 'x'));
    // Bytes that are not UTF-8 come through without a crash, still within the size.
    EXPECT_LE(settings::read_text("LOGIN", "wide", 64).size(), 63u);
    EXPECT_EQ(settings::read_text("LOGIN", "missing", 64), "");
}

TEST_F(ServerSettingsTest, SecretsComeFromTheFileOrTheBuiltInValues)
{
    EXPECT_EQ(settings::server_header().str().size(), 27u);
    EXPECT_EQ(settings::relay_header().str().size(), 36u);
    EXPECT_EQ(settings::server_header().str(), builtin::server_header().str());

    write("[SERVER]\r\nheader=site-header\r\n[RELAY]\r\nheader=\r\n[APPKEY]\r\niv=00112233445566778899aabbccddeeff\r\n");
    EXPECT_EQ(settings::server_header().str(), "site-header");
    // An empty value counts as absent.
    EXPECT_EQ(settings::relay_header().str(), builtin::relay_header().str());
    EXPECT_EQ(settings::app_iv().str(), "00112233445566778899aabbccddeeff");
    EXPECT_EQ(settings::app_key().str(), builtin::app_key().str());
}

std::optional<std::string> hex_bytes(std::string const& text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    for (size_t i = 0; i < text.size(); i += 2) {
        auto digit = [](char c) -> int {
            if (c >= '0' && c <= '9')
                return c - '0';
            if (c >= 'a' && c <= 'f')
                return c - 'a' + 10;
            if (c >= 'A' && c <= 'F')
                return c - 'A' + 10;
            return -1;
        };
        int high = digit(text[i]);
        int low = digit(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
    }
    return out;
}

TEST(BuiltinDefaults, KeyAndIvWorkAsAesKeyAndIv)
{
    auto key_text = builtin::app_key();
    auto iv_text = builtin::app_iv();
    ASSERT_EQ(key_text.str().size(), 64u);
    ASSERT_EQ(iv_text.str().size(), 32u);
    auto key = hex_bytes(key_text.str());
    auto iv = hex_bytes(iv_text.str());
    ASSERT_TRUE(key && iv);
    auto cipher = os::aes256cbc_encrypt("cmd=12&id=owner&password=pw", *key, *iv);
    ASSERT_TRUE(cipher.ok());
    auto plain = os::aes256cbc_decrypt(cipher.value(), *key, *iv);
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain.value(), "cmd=12&id=owner&password=pw");

    auto const& fp = builtin::test_server_fingerprint();
    EXPECT_EQ(fp.size(), 64u);
    EXPECT_EQ(fp.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_TRUE(builtin::webhost().starts_with("https://"));
    EXPECT_TRUE(builtin::test_server_host().starts_with("192.168."));
}

} // namespace
