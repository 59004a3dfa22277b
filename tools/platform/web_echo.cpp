#include "tools/platform/web_echo.h"

#include "tools/platform/db.h"
#include "tools/platform/pcrypto.h"

#include <cstdlib>

namespace tillbay::platform {

namespace {

constexpr size_t k_echo_body_limit = 64 * 1024;
constexpr long long k_blob_limit = 32 * 1024 * 1024;

HttpResponse json_answer(int status, Json const& body)
{
    HttpResponse r;
    r.status = status;
    r.body = body.dump(-1, ' ', false, Json::error_handler_t::replace);
    return r;
}

Json echo_of(HttpRequest const& request)
{
    Json j = { { "ok", true }, { "method", request.method }, { "target", request.target }, { "path", request.path },
        { "query", request.query }, { "contentType", request.header("content-type") },
        { "requestedWith", request.header("x-requested-with") }, { "userAgent", request.header("user-agent") },
        { "bodyLength", request.body.size() }, { "bodySha256", sha256_hex(request.body) } };
    if (request.body.size() <= k_echo_body_limit)
        j["body"] = request.body;
    return j;
}

// The parts of a multipart/form-data body, or null when it is not one.
Json form_parts(HttpRequest const& request)
{
    std::string type = request.header("content-type");
    size_t b = type.find("boundary=");
    if (!type.starts_with("multipart/form-data") || b == std::string::npos)
        return nullptr;
    std::string boundary = type.substr(b + 9);
    if (!boundary.empty() && boundary.front() == '"')
        boundary = boundary.substr(1, boundary.find('"', 1) - 1);
    std::string delimiter = "--" + boundary;
    std::string const& body = request.body;
    Json parts = Json::array();
    size_t pos = body.find(delimiter);
    while (pos != std::string::npos) {
        size_t head_start = pos + delimiter.size();
        if (body.compare(head_start, 2, "--") == 0)
            break;
        head_start += 2;
        size_t head_end = body.find("\r\n\r\n", head_start);
        if (head_end == std::string::npos)
            return nullptr;
        std::string head = body.substr(head_start, head_end - head_start);
        size_t data_start = head_end + 4;
        size_t data_end = body.find("\r\n" + delimiter, data_start);
        if (data_end == std::string::npos)
            return nullptr;
        auto attribute = [&](std::string const& key) {
            size_t at = head.find(key + "=\"");
            if (at == std::string::npos)
                return std::string();
            at += key.size() + 2;
            return head.substr(at, head.find('"', at) - at);
        };
        std::string part_type;
        if (size_t t = head.find("Content-Type: "); t != std::string::npos)
            part_type = head.substr(t + 14, head.find("\r\n", t) == std::string::npos ? std::string::npos : head.find("\r\n", t) - t - 14);
        std::string data = body.substr(data_start, data_end - data_start);
        parts.push_back({ { "name", attribute("name") }, { "filename", attribute("filename") }, { "type", part_type },
            { "size", data.size() }, { "sha256", sha256_hex(data) } });
        pos = data_end + 2;
    }
    return parts;
}

} // namespace

std::optional<HttpResponse> echo_response(HttpRequest const& request)
{
    if (request.path == "/v2/merchant/x_api.php") {
        HttpResponse r = json_answer(200, echo_of(request));
        r.head_only = request.method == "HEAD";
        return r;
    }
    if (request.path == "/v2/shared/blob.php") {
        long long size = std::atoll(request.param("size").c_str());
        int status = std::atoi(request.param("status").c_str());
        HttpResponse r;
        r.status = status >= 200 && status <= 599 ? status : 200;
        r.content_type = "text/plain; charset=utf-8";
        r.body.assign(static_cast<size_t>(size > 0 && size <= k_blob_limit ? size : 0), 'x');
        r.head_only = request.method == "HEAD";
        return r;
    }
    if (request.path == "/v2/shared/form_echo.php") {
        Json parts = form_parts(request);
        if (parts.is_null())
            return json_answer(400, { { "ok", false }, { "why", "not multipart" } });
        return json_answer(200, { { "ok", true }, { "method", request.method }, { "parts", parts } });
    }
    return std::nullopt;
}

} // namespace tillbay::platform
