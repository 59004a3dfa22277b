#include "update/manifest.h"

#include "os/crypto.h"

#include <gtest/gtest.h>

using namespace tillbay;
using namespace tillbay::update;

namespace {

std::string hash_of(char c) { return std::string(64, c); }

std::vector<std::string> required() { return { "ui/login.html", "ui/orders.html", "ui/customer.html" }; }

} // namespace

TEST(VersionManifest, ScansTheFieldsItUses)
{
    auto m = scan_version_manifest(R"({
        "uiVersion" : "2024.05-a",
        "files": ["ui/login.html", "ui/orders.html"],
        "sha256":[ "aa" ,
                   "bb" ],
        "appVersion":"1.4.0", "appUrl":"/v2/pos/tillbay", "appSha256":"abc"})");
    EXPECT_EQ(m.ui_version, "2024.05-a");
    EXPECT_TRUE(m.lists_valid);
    EXPECT_EQ(m.files, (std::vector<std::string> { "ui/login.html", "ui/orders.html" }));
    EXPECT_EQ(m.sha256, (std::vector<std::string> { "aa", "bb" }));
    EXPECT_EQ(m.app_version, "1.4.0");
    EXPECT_EQ(m.app_url, "/v2/pos/tillbay");
    EXPECT_EQ(m.app_sha256, "abc");
}

TEST(VersionManifest, StringValuesAreCutAndKeysAreNotTakenFromValues)
{
    auto long_version = std::string(100, '9');
    auto m = scan_version_manifest("{\"uiVersion\":\"" + long_version + "\"}");
    EXPECT_EQ(m.ui_version, std::string(63, '9'));
    // "files" spelled as a value must not be mistaken for the key.
    m = scan_version_manifest(R"({"uiVersion":"files","files":["ui/a.js"],"sha256":["x"]})");
    EXPECT_EQ(m.ui_version, "files");
    EXPECT_EQ(m.files, std::vector<std::string> { "ui/a.js" });
    // A value without its closing quote gives nothing.
    EXPECT_EQ(scan_version_manifest(R"({"appVersion":"1.2.3)").app_version, "");
    EXPECT_EQ(scan_version_manifest(R"({"appVersion":123})").app_version, "");
}

TEST(VersionManifest, BrokenArraysMakeTheListsInvalid)
{
    std::string many = "[";
    for (int i = 0; i < 129; ++i)
        many += (i ? ",\"f" : "\"f") + std::to_string(i) + "\"";
    many += "]";
    struct Case {
        std::string array;
        bool valid;
    } cases[] = {
        { "[]", true },
        { "[ \"a\" ,\t\r\n\"b\" ]", true },
        { "[\"\"]", false },
        { "[\"" + std::string(96, 'a') + "\"]", false },
        { "[\"" + std::string(95, 'a') + "\"]", true },
        { "[\"a\\\\b\"]", false },
        { "[\"a\",]", false },
        { "[\"a\"", false },
        { "[\"a", false },
        { "\"a\"", false },
        { "[\"a\" \"b\"]", false },
        { many, false },
    };
    for (auto const& c : cases) {
        auto m = scan_version_manifest("{\"files\":" + c.array + ",\"sha256\":[]}");
        EXPECT_EQ(m.lists_valid, c.valid) << c.array;
    }
    // A missing array is simply empty: the list rules refuse it later.
    auto m = scan_version_manifest(R"({"uiVersion":"1"})");
    EXPECT_TRUE(m.lists_valid);
    EXPECT_TRUE(m.files.empty());
}

TEST(Version, ComparesThreeNumbers)
{
    struct Case {
        char const* a;
        char const* b;
        bool newer;
    } cases[] = {
        { "1.10.0", "1.9.9", true },
        { "1.9.9", "1.10.0", false },
        { "1.3.191", "1.3.191", false },
        { "1.3.192", "1.3.191", true },
        { "2", "1.99.99", true },
        { "1.3", "1.3.0", false },
        { "1.3.1", "1.3", true },
        { "", "0.0.0", false },
        { "1.3.191-beta", "1.3.191", false },
        { "x", "0", false },
        { "99999999999999999999.0.0", "1.0.0", true },
    };
    for (auto const& c : cases)
        EXPECT_EQ(version_newer(c.a, c.b), c.newer) << c.a << " vs " << c.b;
}

TEST(FileNames, TheRuleForBundleFileNames)
{
    struct Case {
        std::string name;
        std::optional<std::string> local;
    } cases[] = {
        { "ui/login.html", "login.html" },
        { "login.html", "login.html" },
        { "ui/css/app.min.css", "css/app.min.css" },
        { "com10.js", "com10.js" },
        { "x_y-z.js", "x_y-z.js" },
        { "CON.html", std::nullopt },
        { "con", std::nullopt },
        { "ui/js/aux.js", std::nullopt },
        { "COM1.js", std::nullopt },
        { "lpt9.txt", std::nullopt },
        { "nul.tar.gz", std::nullopt },
        { "a/../b.js", std::nullopt },
        { "./a.js", std::nullopt },
        { ".hidden", std::nullopt },
        { "x./y", std::nullopt },
        { "a//b", std::nullopt },
        { "/abs.js", std::nullopt },
        { "a/", std::nullopt },
        { "ui/", std::nullopt },
        { "", std::nullopt },
        { "a b.js", std::nullopt },
        { "a\\b.js", std::nullopt },
        { "한글.html", std::nullopt },
        { std::string(95, 'a'), std::string(95, 'a') },
        { std::string(96, 'a'), std::nullopt },
        { "ui/" + std::string(93, 'a'), std::nullopt },
    };
    for (auto const& c : cases)
        EXPECT_EQ(local_path_of(c.name), c.local) << c.name;
}

TEST(BundleManifest, ListRules)
{
    auto names = required();
    std::vector<std::string> hashes(3, hash_of('a'));
    ASSERT_TRUE(build_bundle_manifest("1.0", names, hashes));

    auto with = [&](std::vector<std::string> extra_names, std::vector<std::string> extra_hashes) {
        auto n = names;
        auto h = hashes;
        n.insert(n.end(), extra_names.begin(), extra_names.end());
        h.insert(h.end(), extra_hashes.begin(), extra_hashes.end());
        return build_bundle_manifest("1.0", n, h).ok();
    };
    EXPECT_FALSE(with({ "ui/Login.HTML" }, { hash_of('b') })) << "names differing only by case";
    EXPECT_FALSE(with({ "login.html" }, { hash_of('b') })) << "the same local path with and without ui/";
    EXPECT_FALSE(with({ "css", "css/a.css" }, { hash_of('b'), hash_of('c') })) << "a file that is a folder too";
    EXPECT_FALSE(with({ "css/a.css", "CSS" }, { hash_of('b'), hash_of('c') }));
    EXPECT_FALSE(with({ "a.js" }, { std::string(63, 'a') })) << "a hash of 63 digits";
    EXPECT_FALSE(with({ "a.js" }, { std::string(65, 'a') }));
    EXPECT_FALSE(with({ "a.js" }, { std::string(63, 'a') + "g" }));
    EXPECT_TRUE(with({ "a.js" }, { std::string(64, 'F') })) << "either case of hexadecimal digits";
    EXPECT_FALSE(with({ "a.js" }, {})) << "fewer hashes than names";
    EXPECT_FALSE(with({ "CON.html" }, { hash_of('b') }));

    std::vector<std::string> many = names;
    std::vector<std::string> many_hashes = hashes;
    for (int i = 0; i < 125; ++i) {
        many.push_back("f" + std::to_string(i) + ".js");
        many_hashes.push_back(hash_of('c'));
    }
    EXPECT_TRUE(build_bundle_manifest("1.0", many, many_hashes)) << "128 files";
    many.push_back("one-more.js");
    many_hashes.push_back(hash_of('c'));
    EXPECT_FALSE(build_bundle_manifest("1.0", many, many_hashes)) << "129 files";

    EXPECT_FALSE(build_bundle_manifest("1.0", { "ui/login.html", "ui/orders.html" }, { hash_of('a'), hash_of('a') }))
        << "customer.html missing";
    EXPECT_FALSE(build_bundle_manifest("1.0", { "ui/x/login.html", "ui/orders.html", "ui/customer.html" }, hashes))
        << "login.html below the top level";
    for (auto const* bad : { "", "a b", "v/1", "한", "a\nb" })
        EXPECT_FALSE(build_bundle_manifest(bad, names, hashes)) << bad;
    EXPECT_FALSE(build_bundle_manifest(std::string(64, 'v'), names, hashes));
    EXPECT_TRUE(build_bundle_manifest(std::string(63, 'v'), names, hashes));
}

TEST(BundleManifest, TextAndIdAndReadingBack)
{
    auto m = build_bundle_manifest("1.0", required(), { hash_of('a'), hash_of('B'), hash_of('c') });
    ASSERT_TRUE(m);
    auto const& text = m.value().text;
    EXPECT_EQ(text, "TWUI1\n1.0\nui/login.html\t" + hash_of('a') + "\nui/orders.html\t" + hash_of('B')
            + "\nui/customer.html\t" + hash_of('c') + "\n");
    EXPECT_EQ(m.value().release_id, "r-" + os::sha256_hex(text));
    EXPECT_EQ(m.value().files[0].local_path, "login.html");

    auto back = parse_bundle_manifest(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back.value().release_id, m.value().release_id);

    for (std::string bad : {
             text.substr(0, text.size() - 1), // no final newline
             "TWUI2" + text.substr(5),
             text + "x\t" + hash_of('d'),
             text + "extra.js\t" + hash_of('d') + "\n\n",
             text + "a.js " + hash_of('d') + "\n",
             text + "a.js\t" + std::string(63, 'd') + "\n",
             text + "a.js\t" + hash_of('d') + "\r\n",
             text + "../x.js\t" + hash_of('d') + "\n",
             std::string("TWUI1\n") + std::string(64, 'v') + "\n",
             std::string("TWUI1\n"),
             std::string(),
         })
        EXPECT_FALSE(parse_bundle_manifest(bad)) << bad;
}

TEST(ReleaseIds, ValidFormsAndSameContent)
{
    auto plain = "r-" + std::string(64, 'a');
    auto suffixed = plain + "-0123456789abcdef";
    EXPECT_TRUE(valid_release_id(plain));
    EXPECT_TRUE(valid_release_id(suffixed));
    EXPECT_FALSE(valid_release_id("r-" + std::string(64, 'A')));
    EXPECT_FALSE(valid_release_id(plain + "-0123456789abcde"));
    EXPECT_FALSE(valid_release_id(plain + "_0123456789abcdef"));
    EXPECT_FALSE(valid_release_id("x-" + std::string(64, 'a')));
    EXPECT_FALSE(valid_release_id(".stage-1-2"));
    EXPECT_TRUE(same_release_content(plain, suffixed));
    EXPECT_FALSE(same_release_content(plain, "r-" + std::string(64, 'b')));
}

TEST(ActivePointer, ThreeLinesWithoutAFinalNewline)
{
    auto a = "r-" + std::string(64, 'a');
    auto b = "r-" + std::string(64, 'b');
    auto parsed = parse_active(a + "\n" + b + "\n");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->current, a);
    EXPECT_EQ(parsed->previous, b);
    EXPECT_EQ(parsed->held_back, "");
    EXPECT_EQ(format_active(*parsed), a + "\n" + b + "\n");

    for (std::string bad : {
             a + "\n" + b + "\n\n", // a trailing newline
             a + "\n" + b,
             a,
             "\n" + b + "\n",
             a + "\nnot-an-id\n",
             a + "\r\n\n",
             a + "\n\n" + b + "x",
             std::string(),
         })
        EXPECT_FALSE(parse_active(bad)) << bad;
}
