// The reference platform driven from outside: openssl s_client and openssl
// enc for the TLS API and the owner cipher, plain sockets for the relay and
// the bad-input cases, raw HTTP for the web host and the control port.

#include "platform_peer.h"
#include "tillbay_version.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <atomic>
#include <set>
#include <thread>
#include <unistd.h>

using namespace platform_test;

namespace {

Json orders_of(Json const& answer) { return answer.contains("data") ? answer["data"].value("orders", Json::array()) : Json::array(); }

Json find_order(Json const& orders, long long orderidx)
{
    for (auto const& o : orders)
        if (o["orderidx"] == orderidx)
            return o;
    return nullptr;
}

std::string relay_register(PlatformProcess& p, int fd)
{
    send_all(fd, p.info()["relayHeader"].get<std::string>());
    send_all(fd, "register&storeidx=1&devicetype=1");
    return {};
}

} // namespace

class PlatformTls : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_platform = new PlatformProcess(); }
    static void TearDownTestSuite() { delete s_platform; }
    static PlatformProcess* s_platform;
};
PlatformProcess* PlatformTls::s_platform = nullptr;

TEST_F(PlatformTls, PrintsListenersAndPinnedFingerprint)
{
    auto& p = *s_platform;
    ASSERT_TRUE(p.ready());
    EXPECT_EQ(p.listener("api").mode, "tls");
    EXPECT_EQ(p.listener("relay").mode, "tls");
    EXPECT_EQ(p.listener("web").mode, "http");
    // The fingerprint printed is the SHA-256 of the DER certificate the API port presents.
    std::string der_hash = run_shell("timeout 10 openssl s_client -connect 127.0.0.1:" + std::to_string(p.listener("api").port)
        + " -tls1_2 </dev/null 2>/dev/null | openssl x509 -outform DER | openssl dgst -sha256 -r | cut -c1-64");
    EXPECT_EQ(der_hash.substr(0, 64), p.fingerprint());
    // TLS 1.2 only: a TLS 1.3-only client is refused.
    std::string tls13 = run_shell("timeout 10 openssl s_client -connect 127.0.0.1:" + std::to_string(p.listener("api").port)
        + " -tls1_3 </dev/null 2>&1");
    EXPECT_EQ(tls13.find("TLSv1.3"), std::string::npos) << tls13;
}

TEST_F(PlatformTls, StoreCallRoundTripAndRefusedToken)
{
    auto& p = *s_platform;
    Json login = p.store_call("cmd=100&id=tillbay01&pw=pos1234!", 0);
    ASSERT_EQ(login["resultCode"], "0") << login.dump();
    EXPECT_EQ(login["data"]["storeidx"], 1);
    EXPECT_EQ(login["data"]["useridx"], 1001);
    EXPECT_EQ(login["data"]["shopname"], "틸베이 한식당");
    std::string token = login["data"]["token"];
    ASSERT_FALSE(token.empty());

    Json list = p.store_call("cmd=110&storeidx=1&token=" + token);
    ASSERT_EQ(list["resultCode"], "0");
    Json orders = orders_of(list);
    // Every state of the board is present in the demo data.
    std::set<std::string> sources;
    std::set<int> statuses;
    bool prepaid_unpaid = false, deferred = false;
    for (auto const& o : orders) {
        sources.insert(o["ordersrc"].get<std::string>());
        statuses.insert(o["status"].get<int>());
        prepaid_unpaid = prepaid_unpaid || (o["prepay"] == 1 && o["paystatus"] == 0);
        deferred = deferred || (o["prepay"] == 0 && o["paystatus"] == 0);
    }
    for (auto const* src : { "table", "table_takeout", "map_takeout", "pos", "plainpay" })
        EXPECT_TRUE(sources.contains(src)) << src;
    for (int st : { 0, 1, 2, 4 })
        EXPECT_TRUE(statuses.contains(st)) << st;
    EXPECT_TRUE(prepaid_unpaid && deferred);

    struct Case {
        std::string command;
        std::string code;
    } const cases[] = {
        { "cmd=110&storeidx=1&token=0000", "9" },    // unknown token
        { "cmd=110&storeidx=1", "9" },               // no token
        { "cmd=110&storeidx=2&token=" + token, "9" }, // another store
        { "cmd=100&id=tillbay01&pw=wrong", "1" },    // wrong password
        { "cmd=9999&storeidx=1&token=" + token, "9" },
    };
    for (auto const& c : cases) {
        Json answer = p.store_call(c.command);
        EXPECT_EQ(answer["resultCode"], c.code) << c.command;
        EXPECT_FALSE(answer.value("message", "").empty()) << c.command;
    }
}

TEST_F(PlatformTls, OwnerCallRoundTripAndWrongKey)
{
    auto& p = *s_platform;
    std::string app_key = p.info()["appKey"], app_iv = p.info()["appIv"];
    Json login = p.owner_call("cmd=12&id=owner01&password=owner1234!", 1, 0, app_key, app_iv);
    ASSERT_EQ(login["resultCode"], "0") << login.dump();
    Json owner = Json::parse(login["plain"].get<std::string>(), nullptr, false);
    ASSERT_TRUE(owner.is_object()) << login.dump();
    EXPECT_EQ(owner["devkey"].get<std::string>().size(), 64u);
    EXPECT_EQ(owner["deviv"].get<std::string>().size(), 32u);
    EXPECT_EQ(owner["storeidx"], "1");
    long long idx = std::stoll(owner["idx"].get<std::string>());

    Json dash = p.owner_call("cmd=55&storeidx=1", 3, idx, owner["devkey"], owner["deviv"]);
    ASSERT_EQ(dash["resultCode"], "0");
    EXPECT_EQ(Json::parse(dash["plain"].get<std::string>())["storetype"], 1);

    // A refused owner command carries its reason as the encrypted payload.
    Json wrong_pw = p.owner_call("cmd=12&id=owner01&password=nope", 1, 0, app_key, app_iv);
    EXPECT_NE(wrong_pw["resultCode"], "0");
    EXPECT_EQ(wrong_pw["plain"], "아이디 또는 비밀번호가 맞지 않습니다");

    // The application key does not open owner commands, nor an old device key after a new sign-in.
    Json wrong_key = p.owner_call("cmd=55&storeidx=1", 3, idx, app_key, app_iv);
    EXPECT_EQ(wrong_key["resultCode"], "9");
    EXPECT_EQ(wrong_key["resultData"], "");

    // The request log shows the decrypted text.
    Json log = p.control("GET", "/control/requests?after=0");
    bool seen = false;
    for (auto const& r : log["requests"])
        seen = seen || (r["command"] == "cmd=55&storeidx=1" && r["grade"] == 3 && r["useridx"] == idx);
    EXPECT_TRUE(seen);

    // The owner token works for store calls and allows what staff may not (history).
    Json token = p.owner_call("cmd=91&storeidx=1", 3, idx, owner["devkey"], owner["deviv"]);
    std::string owner_token = Json::parse(token["plain"].get<std::string>())["token"];
    std::string staff_token = p.sign_in_staff();
    EXPECT_EQ(p.store_call("cmd=134&storeidx=1&from=20200101&to=20991231&page=1&size=200&token=" + staff_token)["resultCode"], "6201");
    Json history = p.store_call("cmd=134&storeidx=1&from=20200101&to=20991231&page=1&size=200&token=" + owner_token, idx);
    EXPECT_EQ(history["resultCode"], "0");
    EXPECT_GT(history["data"]["total"], 0);
}

TEST_F(PlatformTls, OrderActionsChangeStateAndMakeReceipts)
{
    auto& p = *s_platform;
    std::string t = "&token=" + p.sign_in_staff();
    Json created = p.control("POST", "/control/orders",
        { { "store", 1 }, { "table", 4 }, { "kind", "table" }, { "pay", "unpaid" },
            { "lines", { { { "name", "김치찌개" }, { "qty", 2 }, { "price", 9000 }, { "options", { "곱빼기" } } } } }, { "memo", "덜 맵게" } });
    long long id = created["orderidx"];
    std::string o = "&orderidx=" + std::to_string(id);

    Json detail = p.store_call("cmd=111&storeidx=1" + o + t);
    ASSERT_EQ(detail["resultCode"], "0");
    EXPECT_EQ(detail["data"]["menus"][0]["options"][0]["optionname"], "곱빼기");
    EXPECT_EQ(detail["data"]["menus"][0]["price"], 11000);
    EXPECT_EQ(detail["data"]["totalamount"], 22000);
    EXPECT_EQ(detail["data"]["requestmemo"], "덜 맵게");

    EXPECT_EQ(p.store_call("cmd=115&storeidx=1" + o + "&cooktime=10" + t)["resultCode"], "0");
    EXPECT_EQ(find_order(orders_of(p.store_call("cmd=110&storeidx=1" + t)), id)["status"], 2);

    // Cash payment, then the receipt carries the fields a printed receipt needs.
    EXPECT_EQ(p.store_call("cmd=124" + o + "&tel=01012345678" + t)["resultCode"], "0");
    EXPECT_NE(p.store_call("cmd=124" + o + "&tel=01012345678" + t)["resultCode"], "0") << "paid twice";
    Json receipt = p.store_call("cmd=125&storeidx=1" + o + t)["data"];
    EXPECT_EQ(receipt["paymethod"], "CASH");
    EXPECT_EQ(receipt["payamount"], 22000);
    EXPECT_EQ(receipt["shopname"], "틸베이 한식당");
    EXPECT_FALSE(receipt["biznumber"].get<std::string>().empty());
    EXPECT_EQ(receipt["menus"][0]["amount"], 22000);

    // Cancelling needs the staff PIN under the demo policy.
    Json no_pin = p.store_call("cmd=117&storeidx=1" + o + t);
    EXPECT_EQ(no_pin["resultCode"], "6202");
    EXPECT_NE(p.store_call("cmd=117&storeidx=1" + o + "&pin=9999" + t)["resultCode"], "0");
    EXPECT_EQ(p.store_call("cmd=117&storeidx=1" + o + "&pin=1234" + t)["resultCode"], "0");
    EXPECT_EQ(p.store_call("cmd=125&storeidx=1" + o + t)["data"]["status"], 4);
    EXPECT_NE(p.store_call("cmd=115&storeidx=1" + o + "&cooktime=1" + t)["resultCode"], "0") << "cooking a cancelled order";
}

TEST_F(PlatformTls, PlaceOrderIsIdempotentPerKeyAndQrTokensExpire)
{
    auto& p = *s_platform;
    std::string t = "&token=" + p.sign_in_staff();
    std::string json = R"({"storeidx":1,"tablenum":6,"items":[{"menuidx":104,"qty":1},{"mname":"콜라","qty":2}]})";
    Json first = p.store_call("cmd=10&reqkey=abcdefgh-12345678&orderjson=" + json + t);
    ASSERT_EQ(first["resultCode"], "0") << first.dump();
    Json again = p.store_call("cmd=10&reqkey=abcdefgh-12345678&orderjson=" + json + t);
    EXPECT_EQ(again["data"]["orderidx"], first["data"]["orderidx"]);
    EXPECT_EQ(first["data"]["totalamount"], 14000);
    Json other = p.store_call("cmd=10&reqkey=abcdefgh-12345678&orderjson={\"items\":[]}" + t);
    EXPECT_NE(other["resultCode"], "0");

    long long a = first["data"]["orderidx"];
    Json b_order = p.control("POST", "/control/orders",
        { { "table", 6 }, { "kind", "table" }, { "pay", "unpaid" }, { "lines", { { { "name", "김밥" }, { "qty", 1 } } } } });
    long long b = b_order["orderidx"];
    Json qr = p.store_call("cmd=131&storeidx=1&orderidx=" + std::to_string(a) + "&orders=" + std::to_string(b) + t);
    ASSERT_EQ(qr["resultCode"], "0");
    EXPECT_EQ(qr["data"]["groupcount"], 2);
    EXPECT_EQ(qr["data"]["totalamount"], 18000);
    // Paying the group through its token merges the orders.
    Json paid = p.control("POST", "/control/payments", { { "token", qr["data"]["paytoken"] }, { "result", "paid" } });
    EXPECT_EQ(paid["event"], "PAYING");
    EXPECT_EQ(p.control("GET", "/control/orders/" + std::to_string(b))["mergedinto"], a);
}

TEST(PlatformQr, ExpiredTokenIsRefused)
{
    PlatformProcess p({ "--qr-ttl", "1" });
    ASSERT_TRUE(p.ready());
    std::string t = "&token=" + p.sign_in_staff();
    Json order = p.control("POST", "/control/orders", { { "table", 2 }, { "kind", "table" }, { "pay", "prepaid" }, { "lines", { { { "name", "비빔밥" }, { "qty", 1 } } } } });
    Json qr = p.store_call("cmd=131&storeidx=1&orderidx=" + std::to_string(order["orderidx"].get<long long>()) + t);
    ASSERT_EQ(qr["resultCode"], "0");
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    int status = 0;
    p.control("POST", "/control/payments", { { "token", qr["data"]["paytoken"] }, { "result", "paid" } }, &status);
    EXPECT_EQ(status, 410);
    // Asking again makes a new token.
    Json renewed = p.store_call("cmd=131&storeidx=1&orderidx=" + std::to_string(order["orderidx"].get<long long>()) + t);
    EXPECT_NE(renewed["data"]["paytoken"], qr["data"]["paytoken"]);
}

TEST(PlatformRelay, PingsAndOrderEventsReachRegisteredStoreOnly)
{
    PlatformProcess p({ "--plain", "--ping-interval", "200" });
    ASSERT_TRUE(p.ready());
    int fd = connect_loopback(p.listener("relay").port);
    relay_register(p, fd);
    std::string first = read_until(fd, "ping", 3000);
    EXPECT_NE(first.find("ping"), std::string::npos);
    send_all(fd, "pong");

    Json order = p.control("POST", "/control/orders",
        { { "table", 3 }, { "kind", "table" }, { "pay", "prepaid" }, { "lines", { { { "name", "김치찌개" }, { "qty", 1 } } } } });
    long long id = order["orderidx"];
    std::string events = read_until(fd, "NEWORDER", 3000);
    EXPECT_NE(events.find("storeidx=1&orderidx=" + std::to_string(id) + "&event=NEWORDER"), std::string::npos) << events;

    EXPECT_EQ(p.control("POST", "/control/payments", { { "orderidx", id }, { "result", "failed" } })["event"], "PAYFAIL");
    events = read_until(fd, "PAYFAIL", 3000);
    EXPECT_NE(events.find("orderidx=" + std::to_string(id) + "&event=PAYFAIL"), std::string::npos);

    // A connection with the wrong header is dropped without registering.
    int bad = connect_loopback(p.listener("relay").port);
    send_all(bad, "WRONGHEADERregister&storeidx=1&devicetype=1");
    bool closed = false;
    read_until_quiet(bad, 3000, &closed);
    EXPECT_TRUE(closed);
    close(bad);
    close(fd);
}

TEST(PlatformRelay, TlsRelaySendsPingThroughSClient)
{
    PlatformProcess p({ "--ping-interval", "200" });
    ASSERT_TRUE(p.ready());
    std::string out = run_shell("timeout 3 openssl s_client -connect 127.0.0.1:" + std::to_string(p.listener("relay").port)
            + " -tls1_2 -quiet -ign_eof 2>/dev/null",
        p.info()["relayHeader"].get<std::string>() + "register&storeidx=1&devicetype=1");
    EXPECT_NE(out.find("ping"), std::string::npos) << out;
}

TEST(PlatformWeb, ServesManifestFilesWithMatchingHashesAndPublishes)
{
    char dir[] = "/tmp/tbplatuiXXXXXX";
    std::string ui = mkdtemp(dir);
    mkdir((ui + "/img").c_str(), 0755);
    for (auto const* name : { "login.html", "orders.html", "customer.html", "img/logo.png" })
        run_shell(std::string("printf 'content of ") + name + "' > " + ui + "/" + name);
    run_shell("printf x > " + ui + "/.hidden; printf y > " + ui + "/CMakeLists.txt");
    PlatformProcess p({ "--ui", ui });
    ASSERT_TRUE(p.ready());
    struct Cleanup {
        std::string dir;
        ~Cleanup() { std::filesystem::remove_all(dir); }
    } cleanup { ui };
    int web = p.listener("web").port;
    auto get = [&](std::string const& path) {
        std::string raw = http_request(web, "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
        size_t body = raw.find("\r\n\r\n");
        return std::make_pair(raw.substr(9, 3), body == std::string::npos ? "" : raw.substr(body + 4));
    };
    auto [status, manifest_text] = get("/v2/pos/version.json");
    ASSERT_EQ(status, "200");
    Json manifest = Json::parse(manifest_text);
    EXPECT_EQ(manifest["files"], Json({ "ui/customer.html", "ui/img/logo.png", "ui/login.html", "ui/orders.html" }));
    for (size_t i = 0; i < manifest["files"].size(); ++i) {
        auto [s, content] = get("/v2/pos/" + manifest["files"][i].get<std::string>());
        EXPECT_EQ(s, "200");
        EXPECT_EQ(sha256_hex(content), manifest["sha256"][i]);
    }
    EXPECT_EQ(get("/v2/pos/CMakeLists.txt").first, "404");
    EXPECT_EQ(get("/v2/pos/../secrets.json").first, "403");

    p.control("POST", "/control/service", { { "merchant", 1 }, { "food", 0 }, { "shop", 0 }, { "pos", 1 }, { "message", "점검 중" }, { "notice", "곧 끝납니다" } });
    Json service = Json::parse(get("/v2/pos/service.json").second);
    EXPECT_EQ(service["pos"], 1);
    EXPECT_EQ(service["message"], "점검 중");

    p.control("POST", "/control/publish", { { "uiVersion", "2.0.1" }, { "files", { { "ui/extra.html", "<p>새 화면</p>" } } } });
    run_shell("printf 'new program' > " + ui + "/prog.bin");
    Json app = p.control("POST", "/control/publish", { { "appVersion", "1.3.200" }, { "appFile", ui + "/prog.bin" } });
    manifest = Json::parse(get("/v2/pos/version.json").second);
    EXPECT_EQ(manifest["uiVersion"], "2.0.1");
    auto it = std::find(manifest["files"].begin(), manifest["files"].end(), "ui/extra.html");
    ASSERT_NE(it, manifest["files"].end());
    EXPECT_EQ(get("/v2/pos/ui/extra.html").second, "<p>새 화면</p>");
    EXPECT_EQ(manifest["appVersion"], "1.3.200");
    EXPECT_EQ(manifest["appSha256"], sha256_hex("new program"));
    EXPECT_EQ(sha256_hex(get(manifest["appUrl"]).second), manifest["appSha256"]);
}

// The web host and the bundle build must name the same bundle: a POS whose
// installation copy came from the build finds the served bundle current. An
// install folder (dist/) holds more than pages, and only the listed pages
// are served from it.
TEST(PlatformWeb, ServesTheBuiltBundleUnderTheBuildsNamesAndNothingElseBesideIt)
{
    char const* build = std::getenv("TB_BUILD_DIR");
    ASSERT_NE(build, nullptr);
    std::string built = std::string(build) + "/ui-bundle";
    ASSERT_TRUE(std::filesystem::exists(built + "/version.json"));
    char dir[] = "/tmp/tbplatdistXXXXXX";
    std::string dist = mkdtemp(dir);
    struct Cleanup {
        std::string dir;
        ~Cleanup() { std::filesystem::remove_all(dir); }
    } cleanup { dist };
    std::filesystem::copy(built, dist, std::filesystem::copy_options::recursive);
    run_shell("printf '[SERVER]\\nappkey=secret\\n' > " + dist + "/tillbay.ini");
    Json expected = Json::parse(run_shell("cat " + built + "/version.json"));

    for (std::string const& ui : { built, dist }) {
        PlatformProcess p({ "--ui", ui });
        ASSERT_TRUE(p.ready());
        int web = p.listener("web").port;
        auto get = [&](std::string const& path) {
            std::string raw = http_request(web, "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
            size_t body = raw.find("\r\n\r\n");
            return std::make_pair(raw.substr(9, 3), body == std::string::npos ? "" : raw.substr(body + 4));
        };
        Json manifest = Json::parse(get("/v2/pos/version.json").second);
        EXPECT_EQ(manifest["uiVersion"], expected["uiVersion"]) << ui;
        EXPECT_EQ(manifest["files"], expected["files"]) << ui;
        EXPECT_EQ(manifest["sha256"], expected["sha256"]) << ui;
        // Nothing is published: the program the POS runs is current.
        EXPECT_EQ(manifest["appVersion"], TILLBAY_VERSION);
        EXPECT_EQ(manifest["appUrl"], "");
        auto [status, page] = get("/v2/pos/" + expected["files"][0].get<std::string>());
        EXPECT_EQ(status, "200");
        EXPECT_EQ(sha256_hex(page), expected["sha256"][0]);
        EXPECT_EQ(get("/v2/pos/tillbay.ini").first, "404") << ui;
        EXPECT_EQ(get("/v2/pos/ui/tillbay.ini").first, "404") << ui;
    }
}

TEST(PlatformWeb, PhotoUploadMallExportAndPageApi)
{
    PlatformProcess p;
    ASSERT_TRUE(p.ready());
    int web = p.listener("web").port;
    std::string body = "------tillbay7f3c9a21\r\nContent-Disposition: form-data; name=\"photo\"; filename=\"menu_1_101_5.jpg\"\r\n"
                       "Content-Type: image/jpeg\r\n\r\nJPEGDATA\r\n------tillbay7f3c9a21--\r\n";
    std::string up = http_request(web, "POST /contractphoto/index.php HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=----tillbay7f3c9a21\r\nContent-Length: "
            + std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_NE(up.find("OK\nfile=menu_1_101_5.jpg"), std::string::npos) << up;
    std::string head = http_request(web, "HEAD /contractphoto/upload/menu_1_101_5.jpg HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(head.substr(9, 3), "200");
    EXPECT_EQ(head.substr(head.find("\r\n\r\n") + 4), "");
    EXPECT_EQ(http_request(web, "GET /contractphoto/upload/missing.jpg HTTP/1.1\r\n\r\n").substr(9, 3), "404");

    // The mall export needs the owner's device key from a sign-in.
    Json login = p.owner_call("cmd=12&id=owner01&password=owner1234!", 1, 0, p.info()["appKey"], p.info()["appIv"]);
    Json owner = Json::parse(login["plain"].get<std::string>());
    std::string form = "idx=2001&devkey=" + owner["devkey"].get<std::string>() + "&storeidx=1&act=csv&status=1&from=20000101&to=20991231&productidx=";
    std::string csv = http_request(web, "POST /v2/merchant/mallship_api.php HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded; charset=UTF-8\r\nContent-Length: "
            + std::to_string(form.size()) + "\r\n\r\n" + form);
    EXPECT_NE(csv.find("text/csv"), std::string::npos);
    EXPECT_NE(csv.find("수제 김치 1kg"), std::string::npos);
    EXPECT_EQ(csv.find("최유진"), std::string::npos) << "status 2 rows are filtered out";
    std::string denied = http_request(web, "POST /v2/merchant/mallship_api.php HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 9\r\n\r\nidx=2001&");
    EXPECT_EQ(denied.substr(9, 3), "403");

    std::string menu = http_request(web, "GET /v2/merchant/menu_api.php?storeidx=1 HTTP/1.1\r\n\r\n");
    EXPECT_NE(menu.find("김치찌개"), std::string::npos);
}

TEST(PlatformRobustness, BadInputGetsAnAnswerOrACloseAndTheServerLives)
{
    PlatformProcess p({ "--plain" });
    ASSERT_TRUE(p.ready());
    struct Case {
        char const* name;
        std::string listener;
        std::string bytes;
        bool half_close;
        std::string expect; // a substring of the answer, or empty for "closed without answer"
    } const cases[] = {
        { "api garbage", "api", "GET / HTTP/1.1\r\n\r\n", false, "\"resultCode\":\"9\"" },
        { "api half envelope", "api", "{\"header\":\"x\",\"data\":\"cmd=1", true, "" },
        { "api huge body", "api", "{\"a\":\"" + std::string(300 * 1024, 'a'), false, "\"resultCode\":\"9\"" },
        { "api not an object", "api", "[1,2,3]", false, "\"resultCode\":\"9\"" },
        { "api wrong header", "api", R"({"header":"nope","version":"1.0","grade":5,"useridx":0,"data":"cmd=100&id=a&pw=b"})", false, "\"resultCode\":\"9\"" },
        { "api owner garbage cipher", "api", "{\"header\":\"" + p.info()["serverHeader"].get<std::string>() + R"(","version":"1.0","grade":3,"useridx":2001,"data":"!!!not base64"})", false, "\"resultCode\":\"9\"" },
        { "api unknown grade", "api", "{\"header\":\"" + p.info()["serverHeader"].get<std::string>() + R"(","version":"1.0","grade":42,"useridx":0,"data":""})", false, "\"resultCode\":\"9\"" },
        { "relay garbage", "relay", std::string("\x00\x01\x02 garbage", 11), false, "" },
        { "web garbage", "web", "\x16\x03\x01 not http\r\n\r\n", false, "400" },
        { "web huge body", "web", "POST /contractphoto/index.php HTTP/1.1\r\nContent-Length: 999999999\r\n\r\n", false, "413" },
        { "web huge head", "web", "GET /" + std::string(40000, 'a'), false, "431" },
        { "control bad json", "control", "POST /control/orders HTTP/1.1\r\nContent-Length: 3\r\n\r\n{{{", false, "400" },
    };
    for (auto const& c : cases) {
        int fd = connect_loopback(p.listener(c.listener).port);
        ASSERT_GE(fd, 0) << c.name;
        send_all(fd, c.bytes);
        if (c.half_close)
            shutdown(fd, SHUT_WR);
        bool closed = false;
        std::string answer = read_until_quiet(fd, 12000, &closed);
        close(fd);
        EXPECT_TRUE(closed) << c.name;
        if (c.expect.empty())
            EXPECT_EQ(answer, "") << c.name;
        else
            EXPECT_NE(answer.find(c.expect), std::string::npos) << c.name << ": " << answer.substr(0, 200);
    }
    EXPECT_EQ(p.store_call("cmd=100&id=tillbay01&pw=pos1234!", 0)["resultCode"], "0");
}

TEST(PlatformRobustness, InjectedFaults)
{
    PlatformProcess p({ "--plain" });
    ASSERT_TRUE(p.ready());
    std::string t = "&token=" + p.sign_in_staff();
    p.control("POST", "/control/faults", { { "listener", "api" }, { "cmd", 110 }, { "kind", "refuse" }, { "code", "9" }, { "message", "점검 중입니다" }, { "count", 1 } });
    EXPECT_EQ(p.store_call("cmd=111&storeidx=1&orderidx=1" + t)["resultCode"], "0") << "other commands are not touched";
    Json refused = p.store_call("cmd=110&storeidx=1" + t);
    EXPECT_EQ(refused["resultCode"], "9");
    EXPECT_EQ(refused["message"], "점검 중입니다");
    EXPECT_EQ(p.store_call("cmd=110&storeidx=1" + t)["resultCode"], "0") << "count 1 is used up";

    p.control("POST", "/control/faults", { { "listener", "api" }, { "kind", "close" } });
    Json envelope = { { "header", p.info()["serverHeader"] }, { "version", "1.0" }, { "grade", 5 }, { "useridx", 1001 }, { "data", "cmd=110&storeidx=1" + t } };
    EXPECT_EQ(p.api_exchange(envelope.dump()), "");
    p.control("POST", "/control/faults", { { "listener", "web" }, { "kind", "refuse" }, { "code", "503" } });
    EXPECT_EQ(http_request(p.listener("web").port, "GET /v2/pos/service.json HTTP/1.1\r\n\r\n").substr(9, 3), "503");
    int status = 0;
    p.control("POST", "/control/faults", { { "listener", "nowhere" }, { "kind", "close" } }, &status);
    EXPECT_EQ(status, 400);
}

TEST(PlatformRobustness, DatabaseSurvivesKillAndResetRestoresDemo)
{
    char folder[] = "/tmp/tbplatkillXXXXXX";
    std::string data = mkdtemp(folder);
    {
        PlatformProcess p({ "--plain" }, data);
        ASSERT_TRUE(p.ready());
        // Orders are created from another thread while the server is killed.
        std::atomic<bool> stop { false };
        std::thread writer([&] {
            while (!stop)
                p.control("POST", "/control/orders", { { "table", 1 }, { "kind", "table" }, { "pay", "paid" }, { "lines", { { { "name", "김밥" }, { "qty", 1 } } } } });
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        p.kill_hard();
        stop = true;
        writer.join();
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((data + "/platform.db").c_str(), &db), SQLITE_OK);
    std::string check;
    sqlite3_exec(db, "PRAGMA integrity_check", [](void* out, int, char** values, char**) {
        *static_cast<std::string*>(out) += values[0] ? values[0] : "";
        return 0; }, &check, nullptr);
    int orphans = -1;
    sqlite3_exec(db, "SELECT COUNT(*) FROM orders o WHERE o.ordersrc='table' AND o.tablenum=1 AND NOT EXISTS (SELECT 1 FROM order_menus m WHERE m.orderidx=o.orderidx)",
        [](void* out, int, char** values, char**) { *static_cast<int*>(out) = std::atoi(values[0]); return 0; }, &orphans, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(check, "ok");
    EXPECT_EQ(orphans, 0) << "an order without its lines means a half-written transaction";

    PlatformProcess again({ "--plain" }, data);
    ASSERT_TRUE(again.ready());
    EXPECT_EQ(again.control("POST", "/control/reset")["ok"], true);
    std::string t = "&token=" + again.sign_in_staff();
    size_t listed = orders_of(again.store_call("cmd=110&storeidx=1" + t)).size();
    again.stop();
    std::filesystem::remove_all(data);
    // The reset store lists what a new platform lists: the demo's own orders,
    // plus, for six hours after midnight, yesterday's late cancellations.
    PlatformProcess fresh({ "--plain" });
    ASSERT_TRUE(fresh.ready());
    EXPECT_EQ(listed, orders_of(fresh.store_call("cmd=110&storeidx=1&token=" + fresh.sign_in_staff())).size());
    EXPECT_GE(listed, 9u);
}
