#include "tools/platform/web.h"

#include "os/fs.h"
#include "tools/platform/bundle.h"
#include "tools/platform/commands.h"
#include "tools/platform/faults.h"
#include "tools/platform/orders.h"
#include "tools/platform/pcrypto.h"
#include "tools/platform/web_echo.h"

namespace tillbay::platform {

namespace {

// A stored photo name is at most this long.
constexpr size_t k_photo_name_limit = 128;
constexpr char k_photo_prefix[] = "/contractphoto/upload/";

HttpResponse json_response(int status, Json const& body)
{
    HttpResponse r;
    r.status = status;
    r.body = body.dump();
    return r;
}

HttpResponse text_response(int status, std::string body, std::string type = "text/plain; charset=utf-8")
{
    HttpResponse r;
    r.status = status;
    r.content_type = std::move(type);
    r.body = std::move(body);
    return r;
}

std::string content_type_for(std::string const& name)
{
    auto ends = [&](char const* ext) { return name.ends_with(ext); };
    if (ends(".html") || ends(".htm"))
        return "text/html; charset=utf-8";
    if (ends(".js"))
        return "text/javascript; charset=utf-8";
    if (ends(".css"))
        return "text/css; charset=utf-8";
    if (ends(".json"))
        return "application/json; charset=utf-8";
    if (ends(".png"))
        return "image/png";
    if (ends(".jpg") || ends(".jpeg"))
        return "image/jpeg";
    if (ends(".svg"))
        return "image/svg+xml";
    if (ends(".wav"))
        return "audio/wav";
    return "application/octet-stream";
}

std::string csv_field(std::string const& value)
{
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string out = "\"";
    for (char c : value) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

HttpResponse mall_shipping_export(Platform& platform, HttpRequest const& request)
{
    auto& db = platform.db();
    std::lock_guard lock(db.mutex());
    auto owner = db.query_one("SELECT useridx, storeidx, devkey FROM accounts WHERE useridx=? AND role='owner'",
        { std::atoll(request.param("idx").c_str()) });
    std::string devkey = request.param("devkey");
    if (owner.is_null() || devkey.empty() || owner["devkey"] != devkey
        || owner["storeidx"].get<long long>() != std::atoll(request.param("storeidx").c_str()))
        return text_response(403, "권한이 없습니다");
    if (request.param("act") != "csv")
        return text_response(400, "지원하지 않는 요청입니다");
    std::string sql = "SELECT * FROM mall_orders WHERE storeidx=?";
    std::vector<Json> params { owner["storeidx"] };
    std::string status = request.param("status");
    if (!status.empty() && status != "0" && status != "all") {
        sql += " AND status=?";
        params.push_back(std::atoll(status.c_str()));
    }
    if (long long from = day_from_text(request.param("from"), false); from >= 0) {
        sql += " AND idate>=?";
        params.push_back(from);
    }
    if (long long to = day_from_text(request.param("to"), true); to >= 0) {
        sql += " AND idate<?";
        params.push_back(to);
    }
    if (std::string product = request.param("productidx"); !product.empty() && product != "0") {
        sql += " AND productidx=?";
        params.push_back(std::atoll(product.c_str()));
    }
    if (std::string word = request.param("search"); !word.empty()) {
        sql += " AND (pname LIKE ? OR buyer LIKE ?)";
        params.push_back("%" + word + "%");
        params.push_back("%" + word + "%");
    }
    sql += " ORDER BY buyidx";
    std::string csv = "\xEF\xBB\xBF주문번호,상품번호,상품명,수량,금액,주문자,연락처,주소,상태,택배사,송장번호,주문일\r\n";
    static char const* const states[] = { "", "발송대기", "발송완료", "배송완료", "취소" };
    for (auto const& row : db.query(sql, params)) {
        long long st = row["status"];
        csv += std::to_string(row["buyidx"].get<long long>()) + "," + std::to_string(row["productidx"].get<long long>()) + ","
            + csv_field(row["pname"]) + "," + std::to_string(row["qty"].get<long long>()) + ","
            + std::to_string(row["amount"].get<long long>()) + "," + csv_field(row["buyer"]) + "," + csv_field(row["tel"]) + ","
            + csv_field(row["address"]) + "," + (st >= 0 && st <= 4 ? states[st] : "") + "," + csv_field(row["courier"]) + ","
            + csv_field(row["invoiceno"]) + "," + local_time_text(row["idate"], "%Y-%m-%d %H:%M") + "\r\n";
    }
    return text_response(200, csv, "text/csv; charset=utf-8");
}

HttpResponse photo_upload(Platform& platform, HttpRequest const& request)
{
    std::string type = request.header("content-type");
    size_t b = type.find("boundary=");
    if (request.method != "POST" || !type.starts_with("multipart/form-data") || b == std::string::npos)
        return text_response(400, "ERROR 형식이 올바르지 않습니다");
    std::string boundary = type.substr(b + 9);
    if (!boundary.empty() && boundary.front() == '"')
        boundary = boundary.substr(1, boundary.find('"', 1) - 1);
    std::string delimiter = "--" + boundary;
    std::string const& body = request.body;
    size_t pos = 0;
    while ((pos = body.find(delimiter, pos)) != std::string::npos) {
        size_t head_start = pos + delimiter.size() + 2;
        size_t head_end = body.find("\r\n\r\n", head_start);
        if (head_end == std::string::npos)
            break;
        std::string head = body.substr(head_start, head_end - head_start);
        size_t data_start = head_end + 4;
        size_t data_end = body.find("\r\n" + delimiter, data_start);
        if (data_end == std::string::npos)
            break;
        if (head.find("name=\"photo\"") != std::string::npos) {
            size_t f = head.find("filename=\"");
            std::string filename = f == std::string::npos ? "" : head.substr(f + 10, head.find('"', f + 10) - f - 10);
            std::string stored = safe_photo_name(filename);
            if (stored.empty())
                stored = "photo_" + random_hex(6) + ".jpg";
            if (data_end == data_start)
                return text_response(200, "ERROR 빈 파일입니다");
            if (!os::write_file_atomic(platform.options().data_dir + "/photos/" + stored, body.substr(data_start, data_end - data_start)).ok())
                return text_response(500, "ERROR 저장하지 못했습니다");
            return text_response(200, "OK\nfile=" + stored + "\n");
        }
        pos = data_end + 2;
    }
    return text_response(400, "ERROR 사진이 없습니다");
}

HttpResponse stored_photo(Platform& platform, HttpRequest const& request)
{
    std::string name = request.path.substr(sizeof(k_photo_prefix) - 1);
    if (name.empty() || safe_photo_name(name) != name)
        return text_response(404, "not found");
    auto content = os::read_file(platform.options().data_dir + "/photos/" + name, 16 * 1024 * 1024);
    if (!content.ok())
        return text_response(404, "not found");
    HttpResponse r = text_response(200, content.release_value(), content_type_for(name));
    r.head_only = request.method == "HEAD";
    return r;
}

HttpResponse page_api(Platform& platform, HttpRequest const& request)
{
    std::string name = request.path.substr(request.path.rfind('/') + 1);
    long long storeidx = std::atoll(request.param("storeidx").c_str());
    if (storeidx <= 0)
        storeidx = 1;
    auto& db = platform.db();
    std::lock_guard lock(db.mutex());
    if (name == "menu_api.php") {
        Json categories = Json::array();
        for (auto& c : db.query("SELECT categoryidx, ctname, ordernum FROM categories WHERE storeidx=? ORDER BY ordernum", { storeidx }))
            categories.push_back(c);
        Json menus = Json::array();
        for (auto& m : db.query("SELECT menuidx, categoryidx, mname, price, comment, photopath, soldout, useyn FROM menus"
                                " WHERE storeidx=? AND deleted=0 ORDER BY ordernum", { storeidx }))
            menus.push_back(m);
        return json_response(200, { { "ok", true }, { "categories", categories }, { "menus", menus } });
    }
    if (name == "store_api.php") {
        auto store = db.query_one("SELECT storeidx, shopname, tel, address, tablecount, openstatus FROM stores WHERE storeidx=?", { storeidx });
        if (store.is_null())
            return json_response(404, { { "ok", false }, { "why", "store" } });
        return json_response(200, { { "ok", true }, { "store", store } });
    }
    if (name == "review_api.php") {
        Json list = Json::array();
        for (auto& r : db.query("SELECT reviewidx, type, writer, score, content, reply, idate FROM reviews WHERE storeidx=? ORDER BY idate DESC", { storeidx }))
            list.push_back(r);
        return json_response(200, { { "ok", true }, { "reviews", list } });
    }
    if (name == "order_api.php") {
        Json list = Json::array();
        for (auto& o : db.query("SELECT * FROM orders WHERE storeidx=? AND mergedinto=0 AND status IN (0,1,2) ORDER BY orderidx", { storeidx }))
            list.push_back(order_list_entry(db, o));
        return json_response(200, { { "ok", true }, { "orders", list } });
    }
    if (name == "service_api.php") {
        auto s = platform.service();
        return json_response(200, { { "ok", true }, { "merchant", s.merchant }, { "food", s.food }, { "shop", s.shop }, { "pos", s.pos } });
    }
    return json_response(404, { { "ok", false }, { "why", "unknown" } });
}

} // namespace

std::string safe_photo_name(std::string const& name)
{
    std::string out;
    for (char c : name)
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_')
            out += c;
    while (!out.empty() && out.front() == '.')
        out.erase(out.begin());
    if (out.size() > k_photo_name_limit || out.find("..") != std::string::npos)
        return {};
    return out;
}

HttpResponse web_response(Platform& platform, HttpRequest const& request)
{
    std::string const& path = request.path;
    bool get = request.method == "GET" || request.method == "HEAD";
    if (path.find("..") != std::string::npos)
        return text_response(403, "forbidden");
    if (auto echo = echo_response(request))
        return *echo;
    if (path == "/v2/pos/service.json" && get) {
        auto s = platform.service();
        return json_response(200, { { "merchant", s.merchant }, { "food", s.food }, { "shop", s.shop }, { "pos", s.pos },
                                      { "message", s.message }, { "notice", s.notice } });
    }
    // The manifest and its signature are served from the same signing, so
    // the two agree as long as the bundle does not change between the
    // requests (the POS then refuses the pair and checks again later).
    if (path == "/v2/pos/version.json" && get)
        return text_response(200, platform.signer().sign(version_manifest(platform)).text, "application/json");
    if (path == "/v2/pos/version.json.sig" && get)
        return text_response(200, platform.signer().sign(version_manifest(platform)).signature + "\n");
    if (path.starts_with("/v2/pos/") && get) {
        auto content = bundle_file_content(platform, path.substr(8));
        if (!content)
            return text_response(404, "not found");
        HttpResponse r = text_response(200, std::move(*content), content_type_for(path));
        r.head_only = request.method == "HEAD";
        return r;
    }
    if (path == "/v2/merchant/mallship_api.php")
        return mall_shipping_export(platform, request);
    if ((path.starts_with("/v2/merchant/") || path.starts_with("/v2/shared/")) && path.ends_with(".php"))
        return page_api(platform, request);
    if (path == "/contractphoto/index.php")
        return photo_upload(platform, request);
    if (path.starts_with(k_photo_prefix) && get)
        return stored_photo(platform, request);
    return text_response(404, "not found");
}

void serve_web_connection(Platform& platform, Conn& conn)
{
    HttpRequest request;
    HttpLimits limits;
    auto error = read_http_request(conn, limits, request);
    if (error == HttpParseError::Closed)
        return;
    if (error != HttpParseError::None) {
        platform.log_request("web", 0, 0, "", "");
        int status = error == HttpParseError::BodyTooLarge ? 413 : error == HttpParseError::HeadTooLarge ? 431
            : error == HttpParseError::Timeout                ? 408
                                                               : 400;
        write_http_response(conn, text_response(status, "bad request"));
        return;
    }
    platform.log_request("web", 0, 0, request.header("user-agent"), request.method + " " + request.target);
    if (auto fault = platform.take_fault("web", -1)) {
        if (!play_connection_fault(conn, *fault, "garbage\x01\x02 not http\r\n\r\n"))
            return;
        // BadByte leaves web answers alone: only API answers carry texts to break.
        if (fault->kind == FaultKind::Refuse) {
            int status = std::atoi(fault->code.c_str());
            write_http_response(conn, text_response(status >= 400 && status <= 599 ? status : 503, fault->message));
            return;
        }
    }
    HttpResponse response;
    try {
        response = web_response(platform, request);
    } catch (std::exception const& e) {
        response = text_response(500, "server error");
    }
    write_http_response(conn, response);
}

} // namespace tillbay::platform
