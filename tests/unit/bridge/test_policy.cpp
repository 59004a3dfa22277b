#include "bridge_fixture.h"

#include "bridge/page_script.h"
#include "foundation/json_text.h"

#include <fstream>

using namespace tillbay;
using namespace tillbay::bridge;
using namespace tillbay::bridge::testing;

namespace {

TEST(Manifest, ListsOnlyUiHtmlPages)
{
    auto pages = parse_manifest_pages("TWUI1\n"
                                      "version 2024.05.01\n"
                                      "ui/merchant/menu.html\tabc\n"
                                      "ui/setaddress.html\tabc\n"
                                      "ui/app.js\tabc\n"
                                      "img/x.html\tabc\n"
                                      "ui/.html\tabc\n"
                                      "ui/a.html\tabc\tmore\n"
                                      "ui/orders/list.HTML\tabc\n");
    ASSERT_TRUE(pages.ok());
    EXPECT_EQ(pages.value(), (std::set<std::string> { "/merchant/menu.html", "/.html", "/a.html" }));
}

TEST(Manifest, MalformedManifestsFail)
{
    char const* const bad[] = {
        "",
        "TWUI1",
        "TWUI2\nx\n",
        "twui1\nx\nui/a.html\tx\n",
        "TWUI1\nx\nui/a.html\n",          // no TAB
        "TWUI1\nx\nui/a.html\tx",         // last line without LF
        "TWUI1\nx\nui/a.html\tx\nui/b.html\n",
    };
    for (char const* text : bad)
        EXPECT_FALSE(parse_manifest_pages(text).ok()) << text;
    // A manifest with only its two first lines allows no pages but is sound.
    auto empty = parse_manifest_pages("TWUI1\nversion\n");
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty.value().empty());
}

class PolicyBuild : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / ("tb_policy_" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir / "bundle");
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    PolicySource source(std::string web_host, bool with_bundle)
    {
        PolicySource s;
        s.page_file = [this](std::string_view name) -> std::optional<std::string> {
            if (missing == name)
                return std::nullopt;
            return (m_dir / "install" / std::string(name)).string();
        };
        if (with_bundle)
            s.active_bundle_dir = [this]() -> std::optional<std::string> { return (m_dir / "bundle").string(); };
        else
            s.active_bundle_dir = []() -> std::optional<std::string> { return std::nullopt; };
        s.web_host = std::move(web_host);
        return s;
    }
    void write_manifest(std::string const& text) { std::ofstream(m_dir / "bundle" / ".manifest") << text; }

    std::filesystem::path m_dir;
    std::string missing;
};

TEST_F(PolicyBuild, BuildsFromBundleAndSettings)
{
    write_manifest("TWUI1\nv1\nui/merchant/menu.html\th\n");
    auto policy = PagePolicy::build(source("192.168.0.5:8080", true));
    ASSERT_TRUE(policy.ok()) << policy.error().detail;
    EXPECT_EQ(policy.value().web_origin(), "http://192.168.0.5:8080");
    EXPECT_EQ(policy.value().address_page_address(), "http://192.168.0.5:8080/v2/pos/ui/setaddress.html");
    EXPECT_EQ(policy.value().login_path(), (m_dir / "install" / "login.html").string());
    EXPECT_EQ(policy.value().ui_pages(), (std::set<std::string> { "/merchant/menu.html" }));
    EXPECT_EQ(policy.value().classify(file_address((m_dir / "install" / "orders.html").string()), ViewKind::Main),
        PageClass::Orders);

    auto plain = PagePolicy::build(source("shop.example.com", false));
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain.value().address_page_address(), "https://shop.example.com/v2/pos/ui/setaddress.html");
    EXPECT_TRUE(plain.value().ui_pages().empty());
}

TEST_F(PolicyBuild, FailsWithoutPagesManifestOrWebHost)
{
    missing = "customer.html";
    EXPECT_FALSE(PagePolicy::build(source("shop.example.com", false)).ok());
    missing.clear();
    EXPECT_FALSE(PagePolicy::build(source("shop.example.com", true)).ok()); // no manifest file
    write_manifest("TWUI1\nv1\nui/merchant/menu.html\n");
    EXPECT_FALSE(PagePolicy::build(source("shop.example.com", true)).ok());
    write_manifest(std::string("TWUI1\nv1\n") + std::string(40'000, 'x'));
    EXPECT_FALSE(PagePolicy::build(source("shop.example.com", true)).ok());
    EXPECT_FALSE(PagePolicy::build(source("bad host!", false)).ok());
    EXPECT_FALSE(PagePolicy::build(source("", false)).ok());
}

TEST(Classifier, NamesEachKindOfDocument)
{
    PagePolicy policy = make_policy();
    struct {
        std::string address;
        PageClass main;
        PageClass customer;
    } const cases[] = {
        { login_url, PageClass::Login, PageClass::None },
        { orders_url, PageClass::Orders, PageClass::None },
        { "file:///opt/tillbay/ui/customer.html", PageClass::None, PageClass::Customer },
        { "file:///opt/tillbay/ui/login.html?x=1#y", PageClass::Login, PageClass::None },
        { "file:///opt/tillbay/ui/other.html", PageClass::None, PageClass::None },
        { "file:///opt/tillbay/ui/../ui/login.html", PageClass::None, PageClass::None },
        { menu_url, PageClass::UiBundle, PageClass::None },
        { menu_url + "?x=1#top", PageClass::UiBundle, PageClass::None },
        { "TWPOS://UI.TILLBAY.INVALID/merchant/menu.html", PageClass::UiBundle, PageClass::None },
        { "twpos://ui.tillbay.invalid:443/merchant/menu.html", PageClass::UiBundle, PageClass::None },
        { "twpos://ui.tillbay.invalid:8443/merchant/menu.html", PageClass::None, PageClass::None },
        { "twpos://ui.tillbay.invalid/merchant/MENU.html", PageClass::None, PageClass::None },
        { "twpos://ui.tillbay.invalid/merchant%2Fmenu.html", PageClass::None, PageClass::None },
        { "twpos://api.tillbay.invalid/merchant/menu.html", PageClass::None, PageClass::None },
        { "https://ui.tillbay.invalid/merchant/menu.html", PageClass::None, PageClass::None },
        { "twpos://ui.tillbay.invalid/setaddress.html", PageClass::None, PageClass::None },
        { address_url, PageClass::AddressPage, PageClass::None },
        { address_url + "?q=1", PageClass::AddressPage, PageClass::None },
        { "https://shop.example.com:443/v2/pos/ui/setaddress.html", PageClass::AddressPage, PageClass::None },
        { "http://shop.example.com/v2/pos/ui/setaddress.html", PageClass::None, PageClass::None },
        { "https://shop.example.com/v2/pos/ui/other.html", PageClass::None, PageClass::None },
        { "https://evil.example.com/v2/pos/ui/setaddress.html", PageClass::None, PageClass::None },
        { "about:blank", PageClass::None, PageClass::None },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(policy.classify(c.address, ViewKind::Main), c.main);
        EXPECT_EQ(policy.classify(c.address, ViewKind::Customer), c.customer);
    }
    PagePolicy with_port = make_policy("http://shop.example.com:8080");
    EXPECT_EQ(with_port.address_page_address(), "http://shop.example.com:8080/v2/pos/ui/setaddress.html");
    EXPECT_EQ(with_port.classify("http://shop.example.com:8080/v2/pos/ui/setaddress.html", ViewKind::Main),
        PageClass::AddressPage);
    EXPECT_EQ(with_port.classify("http://shop.example.com/v2/pos/ui/setaddress.html", ViewKind::Main), PageClass::None);
}

TEST(FrameRules, PanelsOnUiPagesAndPostcodeOnTheAddressPage)
{
    PagePolicy policy = make_policy();
    PagePolicy plain = make_policy("http://shop.example.com");
    std::string const plain_address = "http://shop.example.com/v2/pos/ui/setaddress.html";
    struct {
        PagePolicy const* policy;
        std::string top;
        std::string frame;
        bool allowed;
    } const cases[] = {
        { &policy, menu_url, panel_url, true },
        { &policy, menu_url, panel_url + "?id=3", true },
        { &policy, menu_url, "twpos://ui.tillbay.invalid/orders/list.html", false }, // a UI page, not a panel
        { &policy, menu_url, "twpos://ui.tillbay.invalid/merchant/unlisted.html", false },
        { &policy, menu_url, "https://shop.example.com/x.html", false },
        { &policy, menu_url, "about:blank", false },
        { &policy, orders_url, panel_url, false }, // the own pages have no frames
        { &policy, login_url, panel_url, false },
        { &policy, address_url, "about:blank", true },
        { &policy, address_url, "https://postcode.map.daum.net/search?x", true },
        { &policy, address_url, "https://map.kakao.com/", true },
        { &policy, address_url, "https://postcode.map.daum.net:8443/", false },
        { &policy, address_url, "http://postcode.map.daum.net/", false }, // plain only when the page is plain
        { &policy, address_url, "https://evil.example.com/", false },
        { &plain, plain_address, "http://postcode.map.daum.net/", true },
        { &plain, plain_address, "http://postcode.map.daum.net:8080/", false },
        { &plain, plain_address, "https://postcode.map.kakao.com/", true },
        { &policy, "https://elsewhere.example.com/", "about:blank", false },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.top + " <- " + c.frame);
        EXPECT_EQ(c.policy->frame_allowed(c.top, c.frame, ViewKind::Main), c.allowed);
    }
    EXPECT_FALSE(policy.frame_allowed(menu_url, panel_url, ViewKind::Customer));
}

// The guard script must stay valid JavaScript whatever the page list holds;
// node checks the syntax of the real page script wrapped by the real guard.
TEST(GuardScript, IsValidJavaScriptAroundThePageScript)
{
    PagePolicy policy = make_policy();
    std::string script = policy.guard_script(load_page_script());
    EXPECT_TRUE(script.starts_with("(function(){var pf=false;if(window!==window.top){try{pf=location.origin==='twpos://ui.tillbay.invalid'"));
    EXPECT_NE(script.find("var own=[\"file:///opt/tillbay/ui/login.html\",\"file:///opt/tillbay/ui/orders.html\"]"), std::string::npos);
    EXPECT_NE(script.find("[\"/merchant/menu-edit.html\",\"/merchant/menu.html\",\"/orders/list.html\"].indexOf(u.pathname)"),
        std::string::npos);
    EXPECT_NE(script.find("if(u.origin+u.pathname===\"" + address_url + "\")"), std::string::npos);
    EXPECT_TRUE(script.ends_with("\n})();"));

    if (std::system("node --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "node is not installed";
    auto file = std::filesystem::temp_directory_path() / ("tb_guard_" + std::to_string(::getpid()) + ".js");
    std::ofstream(file) << script;
    int rc = std::system(("node --check '" + file.string() + "'").c_str());
    std::filesystem::remove(file);
    EXPECT_EQ(rc, 0);
}

// The page script's roles, run in node against the documents of the policy.
TEST(PageScript, GivesEachDocumentWhatItMayHave)
{
    if (std::system("node --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "node is not installed";
    PagePolicy policy = make_policy();
    auto file = std::filesystem::temp_directory_path() / ("tb_guard_run_" + std::to_string(::getpid()) + ".js");
    std::ofstream(file) << policy.guard_script(load_page_script());
    std::string harness = std::string(TB_SOURCE_DIR) + "/tests/unit/bridge/page_script_harness.js";
    int rc = std::system(("node '" + harness + "' '" + file.string() + "'").c_str());
    std::filesystem::remove(file);
    EXPECT_EQ(rc, 0);
}

// A per-user or installation folder whose name holds URL delimiters (a home
// folder like "/home/kim@shop") still gives the own pages their bridge,
// whether the address carries the delimiters as they are or encoded.
TEST(PageScript, OwnPagesUnderDelimiterFoldersGetTheBridge)
{
    if (std::system("node --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "node is not installed";
    std::string folder = "/home/user@example.com+a,b;c=d&e$f:g/점주";
    PagePolicy policy(folder + "/login.html", folder + "/orders.html", folder + "/customer.html",
        parse_address("https://shop.example.com", ui_scheme).value(), {});
    std::string encoded = "file:///home/user%40example.com%2Ba%2Cb%3Bc%3Dd%26e%24f%3Ag/%EC%A0%90%EC%A3%BC/login.html";
    std::string hrefs = "[" + json::quote(file_address(folder + "/login.html")) + "," + json::quote(encoded) + ","
        + json::quote(file_address(folder + "/orders.html")) + "]";
    EXPECT_EQ(policy.classify(encoded, ViewKind::Main), PageClass::None) << "an encoded ':' is refused by the parser";
    EXPECT_EQ(policy.classify(file_address(folder + "/login.html"), ViewKind::Main), PageClass::Login);

    auto file = std::filesystem::temp_directory_path() / ("tb_guard_at_" + std::to_string(::getpid()) + ".js");
    std::ofstream(file) << policy.guard_script(load_page_script());
    std::string harness = std::string(TB_SOURCE_DIR) + "/tests/unit/bridge/page_script_harness.js";
    int rc = std::system(("node '" + harness + "' '" + file.string() + "' '" + hrefs + "'").c_str());
    std::filesystem::remove(file);
    EXPECT_EQ(rc, 0);
}

TEST(PageScript, IsEmbeddedAndNamesTheApiHost)
{
    std::string script = load_page_script();
    ASSERT_FALSE(script.empty());
    EXPECT_FALSE(script.starts_with("\xEF\xBB\xBF"));
    // The page script carries requests to the API virtual host by name.
    EXPECT_NE(script.find("'" + api_origin() + "'"), std::string::npos);
    EXPECT_EQ(script, std::string(embedded_page_script()));
}

} // namespace
