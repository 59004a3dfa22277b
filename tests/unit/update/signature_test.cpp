#include "update/signature.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace tillbay;

TEST(ManifestSignature, TheSequenceIsADecimalNumberEndingItsValue)
{
    struct Case {
        char const* text;
        std::optional<uint64_t> sequence;
    } cases[] = {
        { R"({"sequence":12})", 12 },
        { R"({"a":1, "sequence" : 7 ,"b":2})", 7 },
        { "{\"sequence\":\n3\n}", 3 },
        { R"({"sequence":0})", 0 },
        { R"({"sequence":999999999999999999})", 999999999999999999ULL },
        { R"({"sequence":9999999999999999999})", std::nullopt }, // 19 digits
        { R"({"sequence":"12"})", std::nullopt },
        { R"({"sequence":12x})", std::nullopt },
        { R"({"sequence":1.5})", std::nullopt },
        { R"({"sequence":-1})", std::nullopt },
        { R"({"sequence":})", std::nullopt },
        { R"({"files":["sequence"]})", std::nullopt },
        { R"({})", std::nullopt },
    };
    for (auto const& c : cases)
        EXPECT_EQ(update::scan_sequence(c.text), c.sequence) << c.text;
}

TEST(ManifestSignature, RefusalsNameTheirReasonBeforeAnyKeyIsUsed)
{
    std::string key(64, 'a');
    std::string signature(128, 'b');
    auto message = [](Result<update::SignedManifest> const& r) { return r.ok() ? std::string("ok") : r.error().message; };
    EXPECT_EQ(message(update::check_signed_manifest("{}", signature, "abc", 0)), update::text::signing_key_broken);
    EXPECT_EQ(message(update::check_signed_manifest("{}", signature, std::string(64, 'g'), 0)), update::text::signing_key_broken);
    EXPECT_EQ(message(update::check_signed_manifest("{}", std::nullopt, key, 0)), update::text::signature_missing);
    EXPECT_EQ(message(update::check_signed_manifest("{}", " \n", key, 0)), update::text::signature_missing);
    EXPECT_EQ(message(update::check_signed_manifest("{}", signature.substr(2), key, 0)), update::text::signature_bad);
    EXPECT_EQ(message(update::check_signed_manifest("{}", std::string(128, 'z'), key, 0)), update::text::signature_bad);
    // Well-formed but not a signature of this text under this key.
    EXPECT_EQ(message(update::check_signed_manifest("{}", signature, key, 0)), update::text::signature_bad);
}

TEST(ManifestSignature, TheLastSequenceBelongsToItsKey)
{
    char pattern[] = "/tmp/tb-seq-XXXXXX";
    std::string dir = ::mkdtemp(pattern);
    std::string path = dir + "/update-sequence.txt";
    std::string key(64, 'A');
    EXPECT_EQ(update::read_last_sequence(path, key), 0u);
    ASSERT_TRUE(update::write_last_sequence(path, key, 41).ok());
    EXPECT_EQ(update::read_last_sequence(path, key), 41u);
    EXPECT_EQ(update::read_last_sequence(path, std::string(64, 'a')), 41u) << "letter case of the key does not matter";
    EXPECT_EQ(update::read_last_sequence(path, std::string(64, 'b')), 0u) << "a new key starts again";
    EXPECT_EQ(update::read_last_sequence("", key), 0u);
    std::filesystem::remove_all(dir);
}
