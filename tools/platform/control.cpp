// The control interface: the demo and the tests play the customer and the
// platform operator through it (orders, payments, maintenance flags, faults,
// whether one payment QR may cover several orders),
// and read back every request the servers received.

#include "tools/platform/control.h"

#include "os/fs.h"
#include "tools/platform/bundle.h"
#include "tools/platform/commands.h"
#include "tools/platform/orders.h"
#include "tools/platform/pcrypto.h"

namespace tillbay::platform {

namespace {

HttpResponse reply(int status, Json const& body)
{
    HttpResponse r;
    r.status = status;
    r.body = body.dump();
    return r;
}

HttpResponse fail(int status, std::string const& why) { return reply(status, { { "error", why } }); }

long long int_field(Json const& j, char const* key, long long fallback)
{
    if (!j.contains(key))
        return fallback;
    if (j[key].is_number_integer())
        return j[key].get<long long>();
    if (j[key].is_string())
        return std::atoll(j[key].get<std::string>().c_str());
    return fallback;
}

HttpResponse create_customer_order(Platform& platform, Json const& body)
{
    NewOrder order;
    order.storeidx = int_field(body, "store", 1);
    order.tablenum = int_field(body, "table", 0);
    std::string kind = body.value("kind", "table");
    std::string pay = body.value("pay", "paid");
    if (kind == "table") {
        if (order.tablenum < 1)
            return fail(400, "a table order needs \"table\" of 1 or more");
        order.ordersrc = "table";
    } else if (kind == "takeout") {
        order.ordersrc = order.tablenum > 0 ? "table_takeout" : "map_takeout";
    } else if (kind == "pickup") {
        order.ordersrc = "map_takeout";
        order.tablenum = 0;
        order.pickup = 1;
        order.pickuptime = now_seconds() + int_field(body, "pickupMinutes", 30) * 60;
    } else {
        return fail(400, "kind must be table, takeout or pickup");
    }
    if (pay == "paid") {
        order.prepay = 1;
        order.paystatus = 1;
        order.paymethod = "CARD";
    } else if (pay == "unpaid") {
        order.prepay = 0;
        order.paystatus = 0;
    } else if (pay == "prepaid") {
        order.prepay = 1;
        order.paystatus = 0;
        order.status = 0;
    } else {
        return fail(400, "pay must be paid, unpaid or prepaid");
    }
    order.memo = body.value("memo", "");
    std::string why;
    if (!lines_from_json(body.value("lines", Json::array()), order.lines, why) || order.lines.empty())
        return fail(400, why.empty() ? "lines are empty" : why);
    long long orderidx;
    {
        Db::Transaction tx(platform.db());
        if (platform.db().query_int("SELECT COUNT(*) FROM stores WHERE storeidx=?", { order.storeidx }) == 0)
            return fail(404, "no such store");
        orderidx = create_order(platform.db(), order);
        if (order.paystatus == 1) {
            Json cards = Json::array();
            long long total = platform.db().query_int("SELECT totalamount FROM orders WHERE orderidx=?", { orderidx });
            cards.push_back({ { "issueCardName", "현대카드" }, { "cardNoEnc", "5433-12**-****-7788" }, { "installment", "일시불" },
                { "applNo", std::to_string(50000000 + orderidx) }, { "amount", total }, { "cancelYN", "N" }, { "cancelAmount", 0 },
                { "cancelRefNo", "" }, { "tranDate", local_time_text(now_seconds(), "%Y%m%d") },
                { "tranTime", local_time_text(now_seconds(), "%H%M%S") }, { "cancelDate", "" }, { "cancelTime", "" } });
            platform.db().exec("UPDATE orders SET cards=? WHERE orderidx=?", { cards.dump(), orderidx });
        }
        tx.commit();
    }
    platform.raise({ order.storeidx, orderidx, "NEWORDER" });
    return reply(200, { { "orderidx", orderidx } });
}

HttpResponse settle(Platform& platform, Json const& body)
{
    std::string result = body.value("result", "paid");
    if (result != "paid" && result != "failed")
        return fail(400, "result must be paid or failed");
    long long orderidx = int_field(body, "orderidx", 0);
    std::string event;
    std::string why;
    long long storeidx = 0;
    {
        Db::Transaction tx(platform.db());
        if (body.contains("token")) {
            // Paying through the QR: the token must still be valid.
            auto order = platform.db().query_one("SELECT orderidx, payexpire FROM orders WHERE paytoken=?", { body.value("token", "") });
            if (order.is_null())
                return fail(404, "unknown token");
            if (order["payexpire"].get<long long>() <= now_seconds())
                return fail(410, "token expired");
            orderidx = order["orderidx"];
        }
        event = settle_payment(platform.db(), orderidx, result == "paid", why, storeidx);
        if (event.empty())
            return fail(409, why);
        tx.commit();
    }
    platform.raise({ storeidx, orderidx, event });
    return reply(200, { { "orderidx", orderidx }, { "event", event } });
}

HttpResponse set_service(Platform& platform, Json const& body)
{
    ServiceBlock block;
    block.merchant = static_cast<int>(int_field(body, "merchant", 0));
    block.food = static_cast<int>(int_field(body, "food", 0));
    block.shop = static_cast<int>(int_field(body, "shop", 0));
    block.pos = static_cast<int>(int_field(body, "pos", 0));
    block.message = body.value("message", "");
    block.notice = body.value("notice", "");
    platform.set_service(block);
    return reply(200, { { "ok", true } });
}

HttpResponse add_fault(Platform& platform, Json const& body)
{
    Fault fault;
    fault.listener = body.value("listener", "");
    if (fault.listener != "api" && fault.listener != "relay" && fault.listener != "web")
        return fail(400, "listener must be api, relay or web");
    fault.cmd = static_cast<int>(int_field(body, "cmd", -1));
    std::string kind = body.value("kind", "");
    if (kind == "late")
        fault.kind = FaultKind::Late;
    else if (kind == "silent")
        fault.kind = FaultKind::Silent;
    else if (kind == "close")
        fault.kind = FaultKind::Close;
    else if (kind == "garbage")
        fault.kind = FaultKind::Garbage;
    else if (kind == "refuse")
        fault.kind = FaultKind::Refuse;
    else if (kind == "badbyte")
        fault.kind = FaultKind::BadByte;
    else
        return fail(400, "kind must be late, silent, close, garbage, refuse or badbyte");
    fault.code = body.contains("code") ? (body["code"].is_string() ? body["code"].get<std::string>() : body["code"].dump()) : "9";
    fault.message = body.value("message", "요청을 처리하지 못했습니다");
    fault.count = static_cast<int>(int_field(body, "count", 1));
    fault.delay_ms = static_cast<int>(int_field(body, "delayMs", 12000));
    if (fault.kind == FaultKind::BadByte && fault.message.empty())
        return fail(400, "badbyte needs the text to replace as \"message\"");
    if (fault.count < 1 || fault.delay_ms < 0 || fault.delay_ms > 120000)
        return fail(400, "count must be 1 or more and delayMs at most 120000");
    platform.add_fault(fault);
    return reply(200, { { "ok", true } });
}

HttpResponse publish(Platform& platform, Json const& body)
{
    Json out = Json::object();
    if (body.contains("uiVersion") || body.contains("files")) {
        std::string version = body.value("uiVersion", "");
        if (version.empty() || version.size() > 63)
            return fail(400, "uiVersion must be 1 to 63 characters");
        for (char c : version)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
                return fail(400, "uiVersion may hold letters, digits, '.', '-' and '_' only");
        std::map<std::string, std::string> files;
        Json const given = body.value("files", Json::object());
        if (!given.is_object())
            return fail(400, "files must be an object of names and texts");
        for (auto const& [name, content] : given.items()) {
            if (!valid_bundle_name(name) || !content.is_string())
                return fail(400, "bad file name or content: " + name);
            files[name] = content.get<std::string>();
        }
        platform.publish_ui(version, files);
        out["uiVersion"] = version;
    }
    if (body.contains("appVersion")) {
        std::string version = body.value("appVersion", "");
        std::string file = body.value("appFile", "");
        auto content = os::read_file(file, 512 * 1024 * 1024);
        if (version.empty() || version.size() > 63 || !content.ok())
            return fail(400, "appVersion and a readable appFile are needed");
        PublishedApp app;
        app.version = version;
        app.url_path = "app/tillbay-" + version;
        app.file_path = platform.options().data_dir + "/published/tillbay-" + version;
        app.sha256 = sha256_hex(content.value());
        if (!os::write_file_atomic(app.file_path, content.value()).ok())
            return fail(500, "cannot store the program file");
        platform.publish_app(app);
        out["appUrl"] = "/v2/pos/" + app.url_path;
        out["appSha256"] = app.sha256;
    }
    if (out.empty())
        return fail(400, "nothing to publish");
    return reply(200, out);
}

HttpResponse requests(Platform& platform, HttpRequest const& request)
{
    long long after = std::atoll(request.param("after").c_str());
    Json list = Json::array();
    for (auto const& r : platform.requests_after(after))
        list.push_back({ { "seq", r.seq }, { "listener", r.listener }, { "grade", r.grade }, { "useridx", r.useridx },
            { "header", r.header }, { "command", r.command } });
    return reply(200, { { "requests", list } });
}

} // namespace

HttpResponse control_response(Platform& platform, Json const& info, HttpRequest const& request)
{
    Json body = Json::object();
    if (request.method == "POST") {
        body = request.body.empty() ? Json::object() : Json::parse(request.body, nullptr, false);
        if (!body.is_object())
            return fail(400, "the body must be a JSON object");
    }
    std::string const& path = request.path;
    try {
        if (request.method == "GET" && path == "/control/info")
            return reply(200, info);
        if (request.method == "GET" && path == "/control/requests")
            return requests(platform, request);
        if (request.method == "GET" && path == "/control/service") {
            auto s = platform.service();
            return reply(200, { { "merchant", s.merchant }, { "food", s.food }, { "shop", s.shop }, { "pos", s.pos },
                                  { "message", s.message }, { "notice", s.notice } });
        }
        if (request.method == "GET" && path.starts_with("/control/orders/")) {
            long long orderidx = std::atoll(path.substr(16).c_str());
            std::lock_guard lock(platform.db().mutex());
            auto order = platform.db().query_one("SELECT * FROM orders WHERE orderidx=?", { orderidx });
            if (order.is_null())
                return fail(404, "no such order");
            Json detail = order_detail(platform.db(), order);
            detail["mergedinto"] = order["mergedinto"];
            detail["payexpire"] = order["payexpire"];
            detail["qrwait"] = order["qrwait"];
            return reply(200, detail);
        }
        if (request.method == "GET" && path == "/control/relay") {
            long long store = std::atoll(request.param("store").c_str());
            return reply(200, { { "subscribers", platform.subscriber_count(store > 0 ? store : 1) } });
        }
        if (request.method != "POST")
            return fail(404, "unknown control request");
        if (path == "/control/orders")
            return create_customer_order(platform, body);
        if (path == "/control/payments")
            return settle(platform, body);
        if (path == "/control/service")
            return set_service(platform, body);
        if (path == "/control/faults")
            return add_fault(platform, body);
        if (path == "/control/options") {
            if (body.contains("qrGroups"))
                platform.set_qr_groups(body.value("qrGroups", true));
            return reply(200, { { "qrGroups", platform.qr_groups() } });
        }
        if (path == "/control/publish")
            return publish(platform, body);
        if (path == "/control/listeners") {
            std::string name = body.value("listener", "");
            if (!body.contains("up") || !body["up"].is_boolean())
                return fail(400, "up must be true or false");
            std::string error = platform.switch_listener(name, body["up"].get<bool>());
            if (!error.empty())
                return fail(400, error);
            return reply(200, { { "ok", true } });
        }
        if (path == "/control/reset") {
            reset_demo_data(platform.db());
            platform.clear_published();
            return reply(200, { { "ok", true } });
        }
    } catch (std::exception const& e) {
        return fail(500, e.what());
    }
    return fail(404, "unknown control request");
}

void serve_control_connection(Platform& platform, Json const& info, Conn& conn)
{
    HttpRequest request;
    HttpLimits limits;
    limits.body = 64 * 1024 * 1024; // published bundles may be large
    auto error = read_http_request(conn, limits, request);
    if (error == HttpParseError::Closed)
        return;
    if (error != HttpParseError::None) {
        write_http_response(conn, reply(error == HttpParseError::BodyTooLarge ? 413 : 400, { { "error", "bad request" } }));
        return;
    }
    write_http_response(conn, control_response(platform, info, request));
}

} // namespace tillbay::platform
