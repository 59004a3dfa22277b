// Secrets must not stay behind in memory a growing string gave back. The
// allocator of this test binary looks into every block freed while a test
// watches, before the block goes back, and counts those that still hold the
// secret. The readers and writers that fill secret buffers (an answer's
// token, a device key, a decrypted owner answer quoted for a page, a command
// with a password) must size their buffer once, or wipe what they outgrow.

#include "base/secret.h"
#include "foundation/json_text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <new>
#include <string>

using namespace tillbay;

namespace {

std::atomic<bool> g_watching { false };
char g_marker[64];
size_t g_marker_length = 0;
std::atomic<int> g_left_behind { 0 };

void look_into(void* block) noexcept
{
    if (!block || !g_watching.load())
        return;
    size_t size = ::malloc_usable_size(block);
    if (::memmem(block, size, g_marker, g_marker_length))
        g_left_behind.fetch_add(1);
}

class Watch {
public:
    explicit Watch(std::string const& secret)
    {
        std::memcpy(g_marker, secret.data(), secret.size());
        g_marker_length = secret.size();
        g_left_behind.store(0);
        g_watching.store(true);
    }
    ~Watch() { g_watching.store(false); }
    int left_behind() const { return g_left_behind.load(); }
};

} // namespace

void* operator new(std::size_t size)
{
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept
{
    look_into(block);
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    look_into(block);
    std::free(block);
}

namespace {

std::string const secret = "S3CRET-7f2a-4c1d-TOKEN";

TEST(SecretGrowth, FieldReadersSizeTheirBufferOnce)
{
    // A sign-in answer: the token sits in the middle of resultData, so a
    // buffer that grows after it would carry a whole copy away.
    std::string const answer = "{\"resultCode\":\"0\",\"resultData\":\"{\\\"storeidx\\\":7,\\\"token\\\":\\\"" + secret
        + "\\\",\\\"shopname\\\":\\\"" + std::string(400, 'x') + "\\\"}\"}";
    std::string const key_answer = "{\"devkey\":\"" + secret + std::string(42, 'a') + "\",\"name\":\"x\"}";
    Watch watch(secret);
    {
        SecretString data;
        ASSERT_TRUE(json::text_field(answer, "resultData", data.str(), 1 << 20));
        SecretString token;
        ASSERT_TRUE(json::text_field(data.str(), "token", token.str(), 80));
        EXPECT_TRUE(token.str() == secret);
        SecretString devkey;
        ASSERT_TRUE(json::text_field(key_answer, "devkey", devkey.str(), 80));
        EXPECT_EQ(devkey.size(), 64u);
    }
    EXPECT_EQ(watch.left_behind(), 0);
}

TEST(SecretGrowth, QuotingAndEscapingSizeTheirOutputOnce)
{
    // An owner answer quoted for a page, and a command with a password
    // escaped for the envelope: escapes after the secret make the output
    // longer than the input.
    std::string const payload = "{\"account\":\"" + secret + "\",\"memo\":\"" + std::string(300, '"') + "\n\"}";
    std::string const command = "cmd=40&pw=" + secret + "&name=" + std::string(300, '\\');
    Watch watch(secret);
    {
        SecretString quoted(json::quote(payload));
        SecretString escaped(json::escape_bounded(command.c_str(), command.size() * 6 + 8));
        EXPECT_GT(quoted.size(), payload.size());
        EXPECT_GT(escaped.size(), command.size());
    }
    EXPECT_EQ(watch.left_behind(), 0);
}

TEST(SecretGrowth, AppendingASecretWipesWhatItOutgrows)
{
    std::string const password = secret + std::string(100, 'p');
    Watch watch(secret);
    {
        SecretString text("cmd=100&id=");
        text.append("kim");
        text.append("&pw=");
        text.append(password);
        text.append("&more=" + std::string(500, 'm'));
    }
    EXPECT_EQ(watch.left_behind(), 0);
}

} // namespace
