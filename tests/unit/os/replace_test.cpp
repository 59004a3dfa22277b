#include "os/fs.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

using namespace tillbay;
namespace fs = std::filesystem;

namespace {

class ReplaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tb-replace-XXXXXX";
        m_dir = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::set<std::string> names() const
    {
        std::set<std::string> out;
        for (auto const& entry : fs::directory_iterator(m_dir))
            out.insert(entry.path().filename());
        return out;
    }

    std::string m_dir;
};

TEST_F(ReplaceTest, ReplacesWholeWithUsualPermissionsAndNoLeftovers)
{
    std::string path = m_dir + "/발송목록.xlsx";
    mode_t old_mask = umask(022);
    ASSERT_TRUE(os::write_file_replacing(path, "first").ok());
    ASSERT_TRUE(os::write_file_replacing(path, "second, longer").ok());
    umask(old_mask);
    EXPECT_EQ(os::read_file(path, 100).value(), "second, longer");
    EXPECT_EQ(names(), std::set<std::string> { "발송목록.xlsx" });
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(ReplaceTest, EachFailureNamesItsStepAndKeepsTheOldFile)
{
    os::WriteStage stage {};
    auto missing = os::write_file_replacing(m_dir + "/no/such/folder.csv", "x", &stage);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(stage, os::WriteStage::Create);
    EXPECT_EQ(missing.error().code, ENOENT);

    // A folder where the file should go: written, but cannot be put in place.
    fs::create_directory(m_dir + "/taken");
    auto taken = os::write_file_replacing(m_dir + "/taken", "x", &stage);
    ASSERT_FALSE(taken.ok());
    EXPECT_EQ(stage, os::WriteStage::Replace);
    EXPECT_EQ(names(), std::set<std::string> { "taken" });

    // A disk that fills up part-way: the old file stays as it was.
    std::string path = m_dir + "/list.csv";
    ASSERT_TRUE(os::write_file_replacing(path, "old content").ok());
    auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old_limit {};
    getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit small = old_limit;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    auto full = os::write_file_replacing(path, std::string(100'000, 'n'), &stage);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, previous_handler);
    ASSERT_FALSE(full.ok());
    EXPECT_EQ(stage, os::WriteStage::Write);
    EXPECT_EQ(os::read_file(path, 100).value(), "old content");
    EXPECT_EQ(names(), (std::set<std::string> { "list.csv", "taken" }));
}

TEST_F(ReplaceTest, WritersOfOneFileNeverShareATemporaryFile)
{
    std::string path = m_dir + "/qr.png";
    std::string const contents[] = { std::string(200'000, 'a'), std::string(300'000, 'b') };
    std::vector<std::thread> writers;
    for (auto const& content : contents) {
        writers.emplace_back([&path, &content] {
            for (int i = 0; i < 30; ++i)
                EXPECT_TRUE(os::write_file_replacing(path, content).ok());
        });
    }
    for (auto& writer : writers)
        writer.join();
    auto final_content = os::read_file(path, 1'000'000).value();
    EXPECT_TRUE(final_content == contents[0] || final_content == contents[1]);
    EXPECT_EQ(names(), std::set<std::string> { "qr.png" });
}

TEST_F(ReplaceTest, TemporaryFilesAreUniquePrivateAndGoWithTheirHolder)
{
    std::set<std::string> paths;
    {
        std::vector<os::TempFile> files;
        for (int i = 0; i < 50; ++i) {
            auto file = os::TempFile::create(m_dir, "tillbay_photo_", ".jpg", "jpeg " + std::to_string(i));
            ASSERT_TRUE(file.ok());
            paths.insert(file.value().path());
            files.push_back(file.release_value());
        }
        EXPECT_EQ(paths.size(), 50u);
        auto const& first = files.front().path();
        EXPECT_TRUE(fs::path(first).filename().string().starts_with("tillbay_photo_"));
        EXPECT_TRUE(first.ends_with(".jpg"));
        EXPECT_EQ(os::read_file(first, 100).value(), "jpeg 0");
        struct stat st {};
        ASSERT_EQ(stat(first.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);

        // Moving hands the file on; only the last holder deletes it.
        os::TempFile moved = std::move(files.front());
        files.erase(files.begin());
        EXPECT_TRUE(os::file_exists(moved.path()));
    }
    EXPECT_TRUE(names().empty());
    EXPECT_FALSE(os::TempFile::create(m_dir + "/missing", "x", ".jpg", "").ok());
}

} // namespace
