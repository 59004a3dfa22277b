// Signed version manifests: the reference platform signs what its web host
// serves and `init` hands the public key to the POS. A hostile web host in
// front of it (one that serves a manifest changed by one byte, a program
// changed by one byte, a signature made with another key, no signature, or an
// older signed manifest again) gets nothing staged and nothing installed.

#include "process.h"
#include "tests/unit/update/fixture.h"
#include "tiny_server.h"
#include "update/manifest.h"
#include "update/signature.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>

#ifdef PLATFORM

using namespace tillbay;
using namespace tillbay::test;
namespace fs = std::filesystem;

namespace {

// Every file below a folder with its content, to show that nothing changed.
std::map<std::string, std::string> snapshot(std::string const& root)
{
    std::map<std::string, std::string> files;
    std::error_code ec;
    if (!fs::exists(root, ec))
        return files;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        files[it->path().string()] = it->is_regular_file() ? os::sha256_hex(read(it->path().string())) : "<dir>";
    return files;
}

class SignedUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        write_files(m_dir / "ui", pages("p1"));
        // `init` makes the data folder with its signing key and writes the
        // POS's settings; the test keeps only what the update reads.
        auto init = run({ PLATFORM, "init", m_dir / "init", "--data", m_dir / "data", "--plain" });
        ASSERT_NE(init.find("update key"), std::string::npos) << init;
        auto ini = read(m_dir / "init/tillbay.ini");
        std::smatch match;
        ASSERT_TRUE(std::regex_search(ini, match, std::regex("\\[UPDATE\\]\r\npubkey=([0-9a-f]{64})\r\n"))) << ini;
        m_key = match[1].str();

        m_platform = std::make_unique<Child>(std::vector<std::string> { PLATFORM, "serve", "--data", m_dir / "data",
            "--web-port", "0", "--api-port", "0", "--relay-port", "0", "--control-port", "0", "--plain", "--ui",
            m_dir / "ui" });
        ASSERT_TRUE(m_platform->wait_for("ready")) << m_platform->output();
        auto const& out = m_platform->output();
        ASSERT_TRUE(std::regex_search(out, match, std::regex("web 127\\.0\\.0\\.1:([0-9]+)")));
        m_web = "http://127.0.0.1:" + match[1].str();
        ASSERT_TRUE(std::regex_search(out, match, std::regex("control 127\\.0\\.0\\.1:([0-9]+)")));
        m_control = "http://127.0.0.1:" + match[1].str();
        EXPECT_NE(out.find("update key " + m_key), std::string::npos) << "serve signs with the key init handed out";

        fs::create_directories(m_dir / "pos");
        fs::copy_file(PROBE_A, exe());
        use_web_host(m_web);
    }

    std::string exe() const { return m_dir / "pos/tillbay"; }
    void use_web_host(std::string const& web_host)
    {
        write(m_dir / "pos/tillbay.ini",
            "[SERVER]\r\nhost=127.0.0.1\r\nwebhost=" + web_host + "\r\n[UPDATE]\r\npubkey=" + m_key + "\r\n");
    }
    std::vector<std::string> env() const
    {
        return { "TILLBAY_UIROOT=" + (m_dir / "uiroot"), "TILLBAY_TESTPORT=1", "LOCALAPPDATA=" + (m_dir / "appdata") };
    }
    std::string check() { return run({ exe(), "check" }, env()); }
    std::string fetch(std::string const& path) { return run({ "/usr/bin/curl", "-s", m_web + path }); }
    std::string publish(std::string const& json)
    {
        return run({ "/usr/bin/curl", "-s", "-XPOST", "-d", json, m_control + "/control/publish" });
    }
    // What the POS writes: the bundle store, the program folder (staged
    // program, settings) and the per-user folder, but for its logs.
    std::map<std::string, std::string> written()
    {
        auto all = snapshot(m_dir / "uiroot");
        all.merge(snapshot(m_dir / "pos"));
        for (auto& [path, hash] : snapshot(m_dir / "appdata"))
            if (hash != "<dir>" && path.find(".log") == std::string::npos && !path.ends_with("logscrub.ver"))
                all[path] = hash;
        return all;
    }
    // A hostile web host serving the platform's files as they are, except
    // the ones the test replaces.
    void mirror(TinyServer& host, std::vector<std::string> const& paths)
    {
        for (auto const& path : paths)
            host.set(path, fetch(path));
    }

    TempDir m_dir;
    std::string m_key;
    std::unique_ptr<Child> m_platform;
    std::string m_web;
    std::string m_control;
};

std::string const manifest = "/v2/pos/version.json";
std::string const signature = "/v2/pos/version.json.sig";

} // namespace

TEST_F(SignedUpdate, ASignedManifestIsAcceptedAndItsSequenceKept)
{
    auto text = fetch(manifest);
    auto sequence = update::scan_sequence(text);
    ASSERT_TRUE(sequence) << text;
    auto out = check();
    EXPECT_NE(out.find("state [app-ready] [새 화면("), std::string::npos) << out;
    EXPECT_EQ(read(m_dir / "appdata/TillBay/update-sequence.txt"), m_key + " " + std::to_string(*sequence) + "\n");

    // A change on the web host is signed under a higher number.
    write(m_dir / "ui/orders.html", "<p>orders v2</p>");
    publish(R"({"uiVersion":"v2-signed"})");
    auto next = update::scan_sequence(fetch(manifest));
    ASSERT_TRUE(next);
    EXPECT_GT(*next, *sequence);
    out = check();
    EXPECT_NE(out.find("state [app-ready] [새 화면(v2-signed) 준비가 끝났습니다"), std::string::npos) << out;
    EXPECT_EQ(read(m_dir / "appdata/TillBay/update-sequence.txt"), m_key + " " + std::to_string(*next) + "\n");
}

TEST_F(SignedUpdate, AHostileWebHostGetsNothingWritten)
{
    // The first manifest, signed, kept by the attacker for a replay.
    auto old_text = fetch(manifest);
    auto old_signature = fetch(signature);
    ASSERT_EQ(old_signature.size(), 129u) << old_signature;
    ASSERT_NE(check().find("state [app-ready]"), std::string::npos);
    write(m_dir / "ui/orders.html", "<p>orders v2</p>");
    publish(R"({"uiVersion":"v2-signed"})");
    ASSERT_NE(check().find("state [app-ready] [새 화면(v2-signed)"), std::string::npos);
    // A third version on the web host, to be offered through the hostile one.
    write(m_dir / "ui/orders.html", "<p>orders v3</p>");
    publish(R"({"uiVersion":"v3-signed"})");
    auto text = fetch(manifest);

    // A signature over the same text by a key of the attacker's own.
    TempDir other;
    run({ "/usr/bin/openssl", "genpkey", "-algorithm", "ed25519", "-out", other / "key.pem" });
    write(other / "manifest", text);
    run({ "/usr/bin/openssl", "pkeyutl", "-sign", "-rawin", "-inkey", other / "key.pem", "-in", other / "manifest",
        "-out", other / "sig" });
    std::string foreign;
    for (unsigned char c : read(other / "sig"))
        foreign += "0123456789abcdef"[c >> 4], foreign += "0123456789abcdef"[c & 15];
    ASSERT_EQ(foreign.size(), 128u);

    std::string changed = text;
    auto at = changed.find("v3-signed");
    ASSERT_NE(at, std::string::npos);
    changed[at + 1] = '4';

    struct Case {
        char const* name;
        std::string manifest;
        std::optional<std::string> signature;
        char const* message;
    };
    std::vector<Case> cases = {
        { "one byte changed", changed, fetch(signature), update::text::signature_bad },
        { "another key", text, foreign, update::text::signature_bad },
        { "no signature", text, std::nullopt, update::text::signature_missing },
        { "a signature of the wrong size", text, foreign.substr(0, 126), update::text::signature_bad },
        { "an older signed manifest", old_text, old_signature, update::text::signature_replayed },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.name);
        TinyServer host;
        host.set(manifest, c.manifest);
        if (c.signature)
            host.set(signature, *c.signature);
        mirror(host, { "/v2/pos/ui/orders.html", "/v2/pos/ui/login.html", "/v2/pos/ui/customer.html" });
        use_web_host(host.web_host());
        auto before = written();
        auto out = check();
        EXPECT_NE(out.find(std::string("state [sign-fail] [") + c.message + "]"), std::string::npos) << out;
        EXPECT_EQ(out.find("ui-fetch"), std::string::npos) << out;
        EXPECT_EQ(written(), before);
        for (auto const& path : host.requested())
            EXPECT_TRUE(path == manifest || path == signature) << "fetched " << path;
    }

    // The genuine pair through the same hostile host is still accepted.
    TinyServer host;
    std::vector<std::string> paths { manifest, signature };
    for (auto const& name : update::scan_version_manifest(text).files)
        paths.push_back("/v2/pos/" + name);
    mirror(host, paths);
    use_web_host(host.web_host());
    EXPECT_NE(check().find("state [app-ready] [새 화면(v3-signed)"), std::string::npos);
}

TEST_F(SignedUpdate, AProgramChangedByOneByteIsNotStaged)
{
    auto published = publish(std::string(R"({"appVersion":"1.4.0","appFile":")") + PROBE_B + "\"}");
    ASSERT_NE(published.find("appSha256"), std::string::npos) << published;
    auto text = fetch(manifest);
    auto url = update::scan_version_manifest(text).app_url;
    ASSERT_TRUE(url.starts_with("/v2/pos/")) << text;
    auto program = read(PROBE_B);
    program[program.size() / 2] ^= 1;

    TinyServer host;
    mirror(host, { manifest, signature });
    host.set(url, program);
    use_web_host(host.web_host());
    auto before = written();
    auto out = check();
    EXPECT_NE(out.find("state [app-fail] [새 판을 받지 못했습니다 — 받은 파일이 검증값과 다릅니다 — 버렸습니다]"),
        std::string::npos)
        << out;
    EXPECT_FALSE(fs::exists(m_dir / "pos/tillbay2.new"));
    auto after = written();
    // The accepted sequence is the one thing written.
    after.erase(m_dir / "appdata/TillBay/update-sequence.txt");
    before.erase(m_dir / "appdata/TillBay/update-sequence.txt");
    EXPECT_EQ(after, before);

    // From the platform itself the same program stages.
    use_web_host(m_web);
    EXPECT_NE(check().find("state [app-ready] [새 판(1.4.0)을 받았습니다"), std::string::npos);
    EXPECT_TRUE(fs::exists(m_dir / "pos/tillbay2.new"));
}

TEST_F(SignedUpdate, WithoutAKeyTheManifestIsTakenAsBefore)
{
    // A web host that serves no signature at all.
    TinyServer host;
    std::vector<std::string> paths { manifest };
    for (auto const& name : update::scan_version_manifest(fetch(manifest)).files)
        paths.push_back("/v2/pos/" + name);
    mirror(host, paths);
    write(m_dir / "pos/tillbay.ini", "[SERVER]\r\nhost=127.0.0.1\r\nwebhost=" + host.web_host() + "\r\n");
    auto out = check();
    EXPECT_NE(out.find("state [app-ready] [새 화면("), std::string::npos) << out;
    for (auto const& path : host.requested())
        EXPECT_NE(path, signature);
}

#endif
