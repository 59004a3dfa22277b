// The photo upload against a small web host on loopback, through the real
// request code: the multipart form it sends, the stored name it takes from
// the answer (only a safe file name goes into a URL and a HEAD path), the
// HEAD check at that address, and each way the host can refuse.

#include "os/http.h"
#include "store/photo_upload.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tillbay::store {
namespace {

namespace fs = std::filesystem;

// A web host on 127.0.0.1 that keeps every request and answers by
// "METHOD path"; anything else gets 404.
class FakeWebHost {
public:
    struct Request {
        std::string method, path, head, body;
    };

    FakeWebHost()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listener, 8);
        socklen_t len = sizeof addr;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~FakeWebHost()
    {
        m_stopping = true;
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
        m_thread.join();
    }
    std::string web_host() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    void answer(std::string const& key, int status, std::string body = {})
    {
        std::lock_guard guard(m_lock);
        m_answers[key] = { status, std::move(body) };
    }
    std::vector<Request> requests()
    {
        std::lock_guard guard(m_lock);
        return m_requests;
    }

private:
    void serve()
    {
        while (!m_stopping) {
            int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            handle(fd);
            ::close(fd);
        }
    }
    void handle(int fd)
    {
        std::string data;
        char buffer[65536];
        size_t head_end;
        while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            data.append(buffer, static_cast<size_t>(n));
        }
        Request request;
        request.head = data.substr(0, head_end);
        size_t space = request.head.find(' ');
        request.method = request.head.substr(0, space);
        request.path = request.head.substr(space + 1, request.head.find(' ', space + 1) - space - 1);
        size_t length = 0;
        if (auto at = request.head.find("Content-Length: "); at != std::string::npos)
            length = std::strtoul(request.head.c_str() + at + 16, nullptr, 10);
        request.body = data.substr(head_end + 4);
        while (request.body.size() < length) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            request.body.append(buffer, static_cast<size_t>(n));
        }
        std::pair<int, std::string> reply { 404, "no" };
        {
            std::lock_guard guard(m_lock);
            if (auto found = m_answers.find(request.method + " " + request.path); found != m_answers.end())
                reply = found->second;
            m_requests.push_back(request);
        }
        std::string out = "HTTP/1.1 " + std::to_string(reply.first) + " X\r\nContent-Length: " + std::to_string(reply.second.size())
            + "\r\nConnection: close\r\n\r\n";
        if (request.method != "HEAD")
            out += reply.second;
        ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
    }

    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping { false };
    std::thread m_thread;
    std::mutex m_lock;
    std::map<std::string, std::pair<int, std::string>> m_answers;
    std::vector<Request> m_requests;
};

class PhotoUpload : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("tb-photo-upload-" + std::to_string(::getpid()));
        fs::create_directories(m_dir / "tmp");
        m_photo = (m_dir / "shop.jpg").string();
        ASSERT_EQ(std::system(("convert -size 40x30 xc:red '" + m_photo + "'").c_str()), 0) << "ImageMagick is needed";
        m_hooks.web_host = [this] { return m_host.web_host(); };
        m_hooks.web = [](os::http::Endpoint const& endpoint, os::http::Request const& call) { return os::http::request(endpoint, call); };
        m_hooks.temp_folder = [this] { return (m_dir / "tmp").string(); };
    }
    void TearDown() override { fs::remove_all(m_dir); }

    Result<UploadedPhoto> upload(std::string const& base_name) { return upload_photo({ m_photo, base_name, 0, false }, m_hooks); }

    fs::path m_dir;
    std::string m_photo;
    FakeWebHost m_host;
    FileHooks m_hooks;
};

TEST_F(PhotoUpload, SendsOneMultipartFormAndChecksTheStoredPhoto)
{
    m_host.answer("POST /contractphoto/index.php", 200, "OK\nfile=addproduct_1_77.jpg\n");
    m_host.answer("HEAD /contractphoto/upload/addproduct_1_77.jpg", 200);
    auto photo = upload("addproduct_1_77");
    ASSERT_TRUE(photo) << photo.error().message;
    // The host's own port is kept in the address.
    EXPECT_EQ(photo.value().url, m_host.web_host() + "/contractphoto/upload/addproduct_1_77.jpg");

    auto requests = m_host.requests();
    ASSERT_EQ(requests.size(), 2u);
    auto const& post = requests[0];
    EXPECT_NE(post.head.find("Content-Type: multipart/form-data; boundary=----tillbay7f3c9a21"), std::string::npos) << post.head;
    std::string part_head = "------tillbay7f3c9a21\r\nContent-Disposition: form-data; name=\"photo\"; filename=\"addproduct_1_77.jpg\"\r\n"
                            "Content-Type: image/jpeg\r\n\r\n\xFF\xD8";
    EXPECT_TRUE(post.body.starts_with(part_head)) << post.body.substr(0, 200);
    EXPECT_TRUE(post.body.ends_with("\xFF\xD9\r\n------tillbay7f3c9a21--\r\n"));
    EXPECT_EQ(requests[1].method, "HEAD");
    // The prepared JPEG is gone once the upload is over.
    EXPECT_TRUE(fs::is_empty(m_dir / "tmp"));
}

TEST_F(PhotoUpload, TheFormsFileNameIsSanitisedAndStaysAStorableName)
{
    m_host.answer("POST /contractphoto/index.php", 200, "OK");
    m_host.answer("HEAD /contractphoto/upload/a.___x__y.jpg", 200);
    auto photo = upload("a../\"x\r\ny");
    ASSERT_TRUE(photo) << photo.error().message;
    auto post = m_host.requests().at(0);
    EXPECT_NE(post.body.find("filename=\"a.___x__y.jpg\"\r\n"), std::string::npos) << post.body.substr(0, 200);
    EXPECT_EQ(post.body.find("\"x"), std::string::npos);
}

// What the host answers, and what the owner is told; a refused stored name
// is never asked for with HEAD.
struct HostCase {
    char const* what;
    int post_status;
    char const* post_body;
    int head_status;
    char const* message; // empty: the upload succeeds
    size_t requests;
};

TEST_F(PhotoUpload, EachRefusalOfTheHostEndsInItsMessage)
{
    HostCase const cases[] = {
        { "no stored name given: the sent name", 200, "OK", 200, "", 2 },
        { "a path in the stored name", 200, "OK\nfile=../../etc/passwd", 200, "서버가 알려 준 사진 이름을 쓸 수 없습니다", 1 },
        { "a query in the stored name", 200, "OK\nfile=a.jpg?x=1", 200, "서버가 알려 준 사진 이름을 쓸 수 없습니다", 1 },
        { "a hidden stored name", 200, "OK\nfile=.htaccess", 200, "서버가 알려 준 사진 이름을 쓸 수 없습니다", 1 },
        { "a Korean stored name", 200, "OK\nfile=사진.jpg", 200, "서버가 알려 준 사진 이름을 쓸 수 없습니다", 1 },
        { "an empty stored name", 200, "OK\nfile=", 200, "서버가 알려 준 사진 이름을 쓸 수 없습니다", 1 },
        { "the stored photo is missing", 200, "OK\nfile=p.jpg", 404, "올린 사진을 그 주소에서 못 찾습니다 — 설정의 웹서버 주소를 확인해 주십시오", 2 },
        { "the host refuses the form", 500, "OK", 200, "서버가 거절했습니다 (500)", 1 },
        { "the host does not say OK", 200, "ERR disk full", 200, "서버가 사진을 받지 않았습니다", 1 },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        FakeWebHost host;
        m_hooks.web_host = [&host] { return host.web_host(); };
        host.answer("POST /contractphoto/index.php", c.post_status, c.post_body);
        host.answer("HEAD /contractphoto/upload/p.jpg", c.head_status);
        auto photo = upload_photo({ m_photo, "p", 0, false }, m_hooks);
        if (!*c.message) {
            ASSERT_TRUE(photo) << photo.error().message;
            EXPECT_EQ(photo.value().url, host.web_host() + "/contractphoto/upload/p.jpg");
        } else {
            ASSERT_FALSE(photo);
            EXPECT_TRUE(photo.error().message.starts_with(c.message)) << photo.error().message;
        }
        EXPECT_EQ(host.requests().size(), c.requests);
        EXPECT_TRUE(fs::is_empty(m_dir / "tmp"));
    }
}

TEST_F(PhotoUpload, NoHostOrATooLargeFileSendsNothing)
{
    m_hooks.web_host = [] { return std::string(); };
    auto none = upload("p");
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().message, "웹서버 주소가 설정에 없습니다 (tillbay.ini 의 webhost)");

    m_hooks.web_host = [this] { return m_host.web_host(); };
    auto large = upload_photo({ m_photo, "p", 10, false }, m_hooks);
    ASSERT_FALSE(large);
    EXPECT_TRUE(m_host.requests().empty());
}

} // namespace
} // namespace tillbay::store
