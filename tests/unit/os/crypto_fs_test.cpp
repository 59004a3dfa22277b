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

namespace {

unsigned mode_of(std::string const& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 07777;
}

} // namespace

// Files the program creates are its user's alone; a file that exists keeps
// the mode and owner it has, and a link is written through to its target.
TEST_F(FsTest, NewFilesArePrivateAndRewritesKeepModeOwnerAndLink)
{
    ::umask(022);
    ASSERT_TRUE(os::write_file_atomic(m_dir + "/new-atomic", "x").ok());
    ASSERT_TRUE(os::write_file(m_dir + "/new-plain", "x").ok());
    ASSERT_TRUE(os::append_file(m_dir + "/new-append", "x").ok());
    for (char const* name : { "/new-atomic", "/new-plain", "/new-append" })
        EXPECT_EQ(mode_of(m_dir + name), 0600u) << name;

    for (unsigned mode : { 0600u, 0640u, 0644u, 0400u }) {
        std::string path = m_dir + "/kept";
        std::filesystem::remove(path);
        ASSERT_TRUE(os::write_file(path, "old").ok());
        ::chmod(path.c_str(), mode);
        ASSERT_TRUE(os::write_file_atomic(path, "new").ok()) << std::oct << mode;
        EXPECT_EQ(mode_of(path), mode);
        EXPECT_EQ(os::read_file(path, 10).value(), "new");
    }

    // Owner: only root can give a file to someone else, so only root checks it.
    if (::geteuid() == 0) {
        std::string path = m_dir + "/owned";
        ASSERT_TRUE(os::write_file(path, "old").ok());
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        ASSERT_TRUE(os::write_file_atomic(path, "new").ok());
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
    }

    // A link (relative, then through a second link) stays a link; its target
    // gets the content and keeps its mode.
    std::filesystem::create_directory(m_dir + "/real");
    ASSERT_TRUE(os::write_file(m_dir + "/real/tillbay.ini", "old").ok());
    ::chmod((m_dir + "/real/tillbay.ini").c_str(), 0600);
    std::filesystem::create_symlink("real/tillbay.ini", m_dir + "/first-link");
    std::filesystem::create_symlink(m_dir + "/first-link", m_dir + "/tillbay.ini");
    ASSERT_TRUE(os::write_file_atomic(m_dir + "/tillbay.ini", "new").ok());
    EXPECT_TRUE(std::filesystem::is_symlink(m_dir + "/tillbay.ini"));
    EXPECT_TRUE(std::filesystem::is_symlink(m_dir + "/first-link"));
    EXPECT_EQ(os::read_file(m_dir + "/real/tillbay.ini", 10).value(), "new");
    EXPECT_EQ(mode_of(m_dir + "/real/tillbay.ini"), 0600u);
    EXPECT_FALSE(os::file_exists(m_dir + "/real/tillbay.ini.tmp"));

    // A link whose target is not there yet creates the target.
    std::filesystem::create_symlink("real/later.txt", m_dir + "/later-link");
    ASSERT_TRUE(os::write_file_atomic(m_dir + "/later-link", "made").ok());
    EXPECT_TRUE(std::filesystem::is_symlink(m_dir + "/later-link"));
    EXPECT_EQ(os::read_file(m_dir + "/real/later.txt", 10).value(), "made");
    EXPECT_EQ(mode_of(m_dir + "/real/later.txt"), 0600u);

    ASSERT_TRUE(os::make_dir(m_dir + "/private", os::private_dir_mode).ok());
    EXPECT_EQ(mode_of(m_dir + "/private"), 0700u);
}
