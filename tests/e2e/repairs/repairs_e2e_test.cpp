// Repairs that only show end to end, on the real program under Xvfb against
// the reference platform:
//   - the retry button of the update notice (`updateretry`) fetches the
//     update again, and a UI release published on the web host meanwhile
//     becomes the current one in ".active" without a restart;
//   - the program installed in, and keeping its per-user folder in, folders
//     whose names hold "@ + , ; = & $ :" still gives its pages the bridge,
//     and the staff can sign in;
//   - the automation endpoint serves only a client that names it by
//     127.0.0.1 and its port and sends no Origin, and a test port beyond
//     65535 opens nothing instead of wrapping to another port; the running
//     program ignores SIGPIPE;
//   - on a Wayland desktop the program runs through XWayland;
//   - refused frames are logged once, and stopped before they load where the
//     web process learns that a request is a frame's.

#include "e2e_fixture.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>
#include <dirent.h>
#include <gtest/gtest.h>
#include <iostream>
#include <thread>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

std::string value_of(e2e::Installation const& at, std::string const& expression)
{
    return e2e::json_field(e2e::http(at.automation, "POST", "/eval", expression).body, "value");
}

bool on_page(e2e::Installation const& at, int page_class)
{
    std::string doc = e2e::http(at.automation, "GET", "/doc").body;
    return e2e::json_field(doc, "class") == std::to_string(page_class) && e2e::json_field(doc, "ready") == "true"
        && e2e::json_field(doc, "url") == e2e::json_field(doc, "expected");
}

// A JSON string of the text.
std::string json_text(std::string const& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

bool log_has(e2e::Installation const& at, std::string const& text)
{
    return e2e::read_text(at.bridge_log).find(text) != std::string::npos;
}

// Starts the program and waits for its sign-in page; a first update check
// that takes the web host's bundle as new and asks for a restart is waited
// out with a second start.
std::unique_ptr<e2e::Child> start_to_sign_in(e2e::Installation const& at)
{
    std::unique_ptr<e2e::Child> program(e2e::start_program(at, {}));
    EXPECT_TRUE(e2e::wait_for([&] { return on_page(at, 1); }, 45s)) << e2e::read_text(at.pos_log);
    if (e2e::wait_for([&] { return log_has(at, "UPD 상태 app-ready"); }, 5s)) {
        program.reset();
        std::string log = e2e::read_text(at.bridge_log);
        program.reset(e2e::start_program(at, {}));
        EXPECT_TRUE(e2e::wait_for([&] { return on_page(at, 1) && e2e::read_text(at.bridge_log).size() > log.size(); }, 45s));
    }
    return program;
}

// The ".active" pointer of the program's bundle store (there is one store
// per web host, named after it).
std::string active_pointer(e2e::Installation const& at)
{
    std::string base = at.home + "/TillBay";
    DIR* dir = ::opendir(base.c_str());
    if (!dir)
        return {};
    std::string found;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.starts_with("ui-bundles"))
            found = e2e::read_text(base + "/" + name + "/.active");
    }
    ::closedir(dir);
    return found;
}

std::string store_folder(e2e::Installation const& at)
{
    std::string base = at.home + "/TillBay";
    DIR* dir = ::opendir(base.c_str());
    if (!dir)
        return {};
    std::string found;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.starts_with("ui-bundles"))
            found = base + "/" + name;
    }
    ::closedir(dir);
    return found;
}

// One raw request with the given header lines; the status code of the answer.
int raw_status(int port, std::string const& head_lines)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    std::string request = "GET /doc HTTP/1.1\r\n" + head_lines + "Connection: close\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string data;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!data.starts_with("HTTP/1.1 "))
        return 0;
    return std::atoi(data.c_str() + 9);
}

// The process running the installation's program (under xvfb-run).
int program_pid(e2e::Installation const& at)
{
    std::string exe = at.pos + "/tillbay";
    DIR* proc = ::opendir("/proc");
    int found = 0;
    while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
        int pid = std::atoi(entry->d_name);
        if (pid <= 0)
            continue;
        char target[4096];
        ssize_t n = ::readlink(("/proc/" + std::string(entry->d_name) + "/exe").c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == exe)
            found = pid;
    }
    if (proc)
        ::closedir(proc);
    return found;
}

bool port_accepts(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return accepted;
}

void sign_in(e2e::Installation const& at)
{
    ASSERT_TRUE(e2e::wait_for(
        [&] {
            return value_of(at, "typeof window.tillwave==='object'&&typeof window.setLoginMode==='function'"
                                "&&document.readyState==='complete'")
                == "true";
        },
        10s))
        << "the sign-in page has no bridge: " << e2e::http(at.automation, "GET", "/doc").body << "\n"
        << e2e::read_text(at.bridge_log);
    value_of(at, "document.getElementById('tabPos').click();document.getElementById('userId').value='tillbay01';"
                 "document.getElementById('userPw').value='pos1234!';"
                 "document.getElementById('loginForm').requestSubmit();true");
    ASSERT_TRUE(e2e::wait_for([&] { return on_page(at, 2); }, 20s))
        << e2e::http(at.automation, "GET", "/doc").body << "\n" << e2e::read_text(at.bridge_log);
}

} // namespace

TEST(UpdateRetry, ANewlyPublishedUiReleaseBecomesCurrentWithoutARestart)
{
    e2e::Installation at;
    ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(at, "repairs", e2e::ServedUi::Copy));
    auto program = start_to_sign_in(at);
    ASSERT_TRUE(e2e::wait_for([&] { return log_has(at, "UPD 상태 정상"); }, 20s)) << e2e::read_text(at.bridge_log);
    std::string before = active_pointer(at);
    ASSERT_FALSE(before.empty());

    // The web host gets a changed sign-in page under a new UI version.
    std::string page = e2e::read_text(at.root + "/ui/login.html") + "\n<!-- retry -->\n";
    auto published = e2e::http(at.control, "POST", "/control/publish",
        "{\"uiVersion\":\"retry-2\",\"files\":{\"login.html\":" + json_text(page) + "}}");
    ASSERT_EQ(published.status, 200) << published.body;

    // The retry button of the update notice.
    ASSERT_EQ(value_of(at, "TW.send('updateretry')"), "true");
    EXPECT_TRUE(e2e::wait_for([&] { return log_has(at, "UPD 상태 ui-fetch — 갱신을 다시 받는 중입니다"); }, 10s))
        << e2e::read_text(at.bridge_log);
    ASSERT_TRUE(e2e::wait_for([&] { return log_has(at, "UPD 상태 app-ready — 새 화면(retry-2) 준비가 끝났습니다"); }, 30s))
        << e2e::read_text(at.bridge_log);
    EXPECT_FALSE(log_has(at, "아직 붙이지 않은 기능입니다 (updateretry)"));

    // ".active" names the new release as current and the old one as previous.
    std::string after = active_pointer(at);
    std::string current = after.substr(0, after.find('\n'));
    std::string old_current = before.substr(0, before.find('\n'));
    EXPECT_NE(current, old_current);
    EXPECT_EQ(after.substr(after.find('\n') + 1, old_current.size()), old_current);
    std::string manifest = e2e::read_text(store_folder(at) + "/" + current + "/.manifest");
    EXPECT_TRUE(manifest.starts_with("TWUI1\nretry-2\n")) << manifest.substr(0, 40);
    EXPECT_NE(e2e::read_text(store_folder(at) + "/" + current + "/login.html").find("<!-- retry -->"), std::string::npos);
    // The page was told, and this run keeps the bundle it started with.
    EXPECT_EQ(value_of(at, "TW.updateState"), "\"app-ready\"");
}

TEST(DelimiterPaths, SignInFromFoldersNamedWithUrlDelimiters)
{
    e2e::Installation at;
    ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(at, "repairs", e2e::ServedUi::Built));
    // The installation and the per-user folder move under names that hold
    // every delimiter a URL path may carry unencoded.
    std::string pos = at.root + "/p@x+y,z;w=v&u$t:s";
    ::mkdir(pos.c_str(), 0755);
    ASSERT_TRUE(e2e::copy_file(at.pos + "/tillbay", pos + "/tillbay", true));
    ASSERT_TRUE(e2e::copy_file(at.pos + "/tillbay.ini", pos + "/tillbay.ini"));
    ASSERT_TRUE(e2e::copy_dir_files(at.pos + "/webext", pos + "/webext"));
    ASSERT_TRUE(e2e::copy_dir_files(at.build + "/ui-bundle", pos));
    at.pos = pos;
    at.home = at.root + "/user@example.com+a,b;c=d&e$f:g";
    ::mkdir(at.home.c_str(), 0755);
    at.bridge_log = at.home + "/TillBay/bridge.log";

    auto program = start_to_sign_in(at);
    EXPECT_NE(e2e::json_field(e2e::http(at.automation, "GET", "/doc").body, "url").find("user@example.com+a,b;c=d&e$f:g"),
        std::string::npos)
        << e2e::http(at.automation, "GET", "/doc").body;
    ASSERT_NO_FATAL_FAILURE(sign_in(at));
    EXPECT_TRUE(e2e::wait_for([&] { return value_of(at, "document.getElementById('storeName').textContent") == "\"틸베이 한식당\""; }, 10s));
}

TEST(AutomationEndpoint, ServesOnlyItsOwnClient)
{
    e2e::Installation at;
    ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(at, "repairs", e2e::ServedUi::Built));
    std::unique_ptr<e2e::Child> program(e2e::start_program(at, {}));
    ASSERT_TRUE(e2e::wait_for([&] { return on_page(at, 1); }, 45s)) << e2e::read_text(at.pos_log);

    std::string own = "127.0.0.1:" + std::to_string(at.automation);
    struct Case {
        char const* what;
        std::string head;
        int status;
    } const cases[] = {
        { "own client", "Host: " + own + "\r\n", 200 },
        { "host in capitals of the header name", "HOST: " + own + "\r\n", 200 },
        { "a web page's request", "Host: " + own + "\r\nOrigin: http://example.com\r\n", 403 },
        { "an opaque origin", "Host: " + own + "\r\nOrigin: null\r\n", 403 },
        { "a rebound name", "Host: attacker.example:" + std::to_string(at.automation) + "\r\n", 403 },
        { "localhost", "Host: localhost:" + std::to_string(at.automation) + "\r\n", 403 },
        { "no port", "Host: 127.0.0.1\r\n", 403 },
        { "no host", "", 403 },
        { "two hosts", "Host: " + own + "\r\nHost: " + own + "\r\n", 403 },
    };
    for (auto const& c : cases)
        EXPECT_EQ(raw_status(at.automation, c.head), c.status) << c.what;
    // A refused request never reached the page.
    EXPECT_EQ(e2e::http(at.automation, "POST", "/eval", "1+1").status, 200);

    // The running program ignores SIGPIPE: a write to a peer that has just
    // reset ends with an error, not with the process.
    std::string status = e2e::read_text("/proc/" + std::to_string(program_pid(at)) + "/status");
    size_t ignored = status.find("SigIgn:\t");
    ASSERT_NE(ignored, std::string::npos) << "no running program found";
    unsigned long long mask = std::strtoull(status.c_str() + ignored + 8, nullptr, 16);
    EXPECT_TRUE(mask & (1ULL << (SIGPIPE - 1))) << status.substr(ignored, 30);
    program.reset();

    // A test port beyond 65535 opens nothing, not the port it would wrap to.
    int wrapped = at.automation;
    at.automation = wrapped + 65536;
    program.reset(e2e::start_program(at, {}));
    ASSERT_TRUE(e2e::wait_for([&] { return log_has(at, "시험용 문을 열지 못했다 — 127.0.0.1:" + std::to_string(at.automation)); }, 30s))
        << e2e::read_text(at.bridge_log);
    EXPECT_FALSE(port_accepts(wrapped));
}

namespace {

// A headless Weston with XWayland in a runtime folder of the test's own.
struct Weston {
    std::string runtime;
    std::string socket = "tb-wayland";
    std::string display; // ":N" of its XWayland
    e2e::Child child;
};

bool start_weston(Weston& weston, std::string const& root)
{
    weston.runtime = root + "/runtime";
    ::mkdir(weston.runtime.c_str(), 0700);
    std::string log = root + "/weston.log";
    weston.child = e2e::Child::start({ "weston", "--backend=headless-backend.so", "--xwayland", "--socket=" + weston.socket,
                                         "--idle-time=0", "--width=1400", "--height=900" },
        { "XDG_RUNTIME_DIR=" + weston.runtime }, log);
    bool ready = e2e::wait_for([&] { return e2e::read_text(log).find("xserver listening on display :") != std::string::npos; }, 20s);
    if (!ready)
        return false;
    std::string text = e2e::read_text(log);
    size_t at = text.find("xserver listening on display :") + 29;
    weston.display = text.substr(at, text.find_first_of("\r\n", at) - at);
    return true;
}

} // namespace

// On a Wayland desktop the program runs through XWayland, where its badge and
// customer display can keep their places; a GDK_BACKEND the user set decides.
TEST(WaylandDesktop, TheProgramRunsThroughXWaylandUnlessTheUserChoseOtherwise)
{
    if (std::system("command -v weston >/dev/null 2>&1 && command -v Xwayland >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "weston with XWayland is not installed";
    e2e::Installation at;
    ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(at, "repairs", e2e::ServedUi::Built));
    Weston weston;
    ASSERT_TRUE(start_weston(weston, at.root)) << e2e::read_text(at.root + "/weston.log");
    std::vector<std::string> session { "WAYLAND_DISPLAY=" + weston.socket, "XDG_RUNTIME_DIR=" + weston.runtime,
        "XDG_SESSION_TYPE=wayland" };

    std::unique_ptr<e2e::Child> program(e2e::start_program(at, weston.display, session));
    ASSERT_TRUE(e2e::wait_for([&] { return log_has(at, "화면 표시 방식: "); }, 30s)) << e2e::read_text(at.pos_log);
    EXPECT_TRUE(log_has(at, "화면 표시 방식: GdkX11Display")) << e2e::read_text(at.bridge_log);
    EXPECT_TRUE(e2e::wait_for([&] { return on_page(at, 1); }, 45s)) << e2e::read_text(at.pos_log);
    program.reset();

    std::string before = e2e::read_text(at.bridge_log);
    session.push_back("GDK_BACKEND=wayland");
    program.reset(e2e::start_program(at, weston.display, session));
    ASSERT_TRUE(e2e::wait_for(
        [&] { return e2e::read_text(at.bridge_log).find("화면 표시 방식: ", before.size()) != std::string::npos; }, 30s))
        << e2e::read_text(at.pos_log);
    EXPECT_NE(e2e::read_text(at.bridge_log).find("화면 표시 방식: GdkWaylandDisplay", before.size()), std::string::npos);
    program.reset();
    weston.child.stop();
}

namespace {

int count_of(std::string const& text, std::string const& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

} // namespace

// Frames the rules refuse are block-logged once each, as "frame navigation";
// a frame whose request says it is a frame's document is refused before it
// loads, so the web host never sees it.
TEST(FrameNavigation, RefusedFramesAreLoggedOnceAndStoppedEarlyWhereKnown)
{
    e2e::Installation at;
    ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(at, "repairs", e2e::ServedUi::Built));
    auto program = start_to_sign_in(at);
    ASSERT_EQ(value_of(at, "typeof window.tillwave"), "\"object\"");
    std::string doc = e2e::http(at.automation, "GET", "/doc").body;
    std::string login = e2e::json_field(doc, "url");
    login = login.substr(1, login.size() - 2);
    std::string ini = e2e::read_text(at.pos + "/tillbay.ini");
    size_t web = ini.find("webhost=");
    ASSERT_NE(web, std::string::npos) << ini;
    std::string web_host = ini.substr(web + 8, ini.find_first_of("\r\n", web) - web - 8);
    if (web_host.find("://") == std::string::npos)
        web_host = "http://" + web_host;
    std::string address_page = web_host + "/v2/pos/ui/setaddress.html";

    std::string log_before = e2e::read_text(at.bridge_log);
    auto requests_before = e2e::http(at.control, "GET", "/control/requests?after=0").body;
    // The sign-in page may hold no frames: one of its own kind, one of the web host's address page.
    value_of(at, "var f=document.createElement('iframe');f.id='f1';f.src=" + std::string("'") + login
            + "';document.body.appendChild(f);var g=document.createElement('iframe');g.id='f2';g.src='" + address_page
            + "';document.body.appendChild(g);true");
    ASSERT_TRUE(e2e::wait_for(
        [&] { return count_of(e2e::read_text(at.bridge_log).substr(log_before.size()), "차단: frame navigation") >= 2; }, 10s))
        << e2e::read_text(at.bridge_log).substr(log_before.size());
    std::this_thread::sleep_for(2s);
    std::string added = e2e::read_text(at.bridge_log).substr(log_before.size());
    EXPECT_EQ(count_of(added, "차단: frame navigation"), 2) << added;
    EXPECT_EQ(count_of(added, "차단: navigation"), 0) << added;
    // The address page's frame named itself a frame's document when its
    // request was about to leave: it was stopped there, unsent.
    std::string requests = e2e::http(at.control, "GET", "/control/requests?after=0").body;
    EXPECT_EQ(count_of(requests, "setaddress.html"), count_of(requests_before, "setaddress.html")) << requests;
}
