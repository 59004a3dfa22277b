#include "os/crypto.h"
#include "os/fs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

using namespace tillbay;

TEST(Crypto, Sha256KnownVectors)
{
    EXPECT_EQ(os::sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(os::sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Crypto, AesRoundTripAndRejectsWrongKey)
{
    std::string key(32, 'k');
    std::string iv(16, 'i');
    // RFC-style check: 16 bytes of plain text gain a whole padding block.
    auto cipher = os::aes256cbc_encrypt("cmd=900&storeidx=1", key, iv);
    ASSERT_TRUE(cipher.ok());
    EXPECT_EQ(cipher.value().size() % 16, 0u);
    auto plain = os::aes256cbc_decrypt(cipher.value(), key, iv);
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain.value(), "cmd=900&storeidx=1");

    std::string other(32, 'x');
    EXPECT_FALSE(os::aes256cbc_decrypt(cipher.value(), other, iv).ok());
    EXPECT_FALSE(os::aes256cbc_encrypt("x", "short", iv).ok());
    EXPECT_FALSE(os::aes256cbc_decrypt("not a multiple of sixteen", key, iv).ok());
}

class FsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tb-fs-XXXXXX";
        m_dir = mkdtemp(tmpl);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string m_dir;
};

TEST_F(FsTest, AtomicWriteReplacesAndFailedWriteKeepsOldFile)
{
    std::string path = m_dir + "/a.txt";
    ASSERT_TRUE(os::write_file_atomic(path, "first").ok());
    ASSERT_TRUE(os::write_file_atomic(path, "second").ok());
    EXPECT_EQ(os::read_file(path, 100).value(), "second");
    EXPECT_FALSE(os::file_exists(path + ".tmp"));

    // A folder where the temporary file should go makes the write fail.
    std::filesystem::create_directory(path + ".tmp");
    EXPECT_FALSE(os::write_file_atomic(path, "third").ok());
    EXPECT_EQ(os::read_file(path, 100).value(), "second");
}

TEST_F(FsTest, ReadLimits)
{
    std::string path = m_dir + "/b.txt";
    ASSERT_TRUE(os::write_file(path, "0123456789").ok());
    EXPECT_FALSE(os::read_file(path, 9).ok());
    EXPECT_EQ(os::read_file(path, 10).value(), "0123456789");
    EXPECT_EQ(os::read_prefix(path, 4).value(), "0123");
    EXPECT_FALSE(os::read_file(m_dir + "/missing", 10).ok());
    EXPECT_FALSE(os::read_file(m_dir, 10).ok()); // a folder is not a file
}
