#include "door/http_request.h"

#include "base/ascii.h"

namespace tillbay::door {

namespace {

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

ReadOutcome failed(ReadFailure failure)
{
    ReadOutcome outcome;
    outcome.state = ReadOutcome::State::Failed;
    outcome.failure = failure;
    return outcome;
}

// The end of the header block: where it stops and where the body starts.
struct HeadEnd {
    size_t head_length;
    size_t body_start;
};

std::optional<HeadEnd> find_head_end(std::string_view received)
{
    std::string_view window = received.substr(0, max_head_bytes);
    size_t crlf = window.find("\r\n\r\n");
    size_t lf = window.find("\n\n");
    if (crlf == std::string_view::npos && lf == std::string_view::npos)
        return std::nullopt;
    if (lf == std::string_view::npos || (crlf != std::string_view::npos && crlf < lf))
        return HeadEnd { crlf, crlf + 4 };
    return HeadEnd { lf, lf + 2 };
}

// The origin-form of an absolute target: its path from the first "/" after
// the "//", or "/" when it has none.
std::string_view origin_form(std::string_view target)
{
    for (std::string_view scheme : { "http://", "https://" }) {
        if (!ascii::starts_with_ignoring_case(target, scheme))
            continue;
        std::string_view rest = target.substr(scheme.size());
        size_t slash = rest.find('/');
        return slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);
    }
    return target;
}

} // namespace

std::string_view Request::header(std::string_view lower_name) const
{
    auto it = headers.find(std::string(lower_name));
    return it == headers.end() ? std::string_view {} : std::string_view(it->second);
}

std::string_view kept_prefix(std::string_view received) { return received.substr(0, kept_prefix_bytes); }

ReadOutcome read_request(std::string_view received, bool ended)
{
    auto end = find_head_end(received);
    if (!end) {
        if (ended || received.size() >= max_head_bytes)
            return failed(ReadFailure::NoHeaderEnd);
        return {};
    }
    std::string_view head = received.substr(0, end->head_length);

    ReadOutcome outcome;
    Request& request = outcome.request;
    bool first = true;
    size_t pos = 0;
    while (pos <= head.size()) {
        size_t newline = head.find('\n', pos);
        std::string_view line = head.substr(pos, newline == std::string_view::npos ? std::string_view::npos : newline - pos);
        pos = newline == std::string_view::npos ? head.size() + 1 : newline + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (first) {
            first = false;
            size_t space = line.find(' ');
            if (space == std::string_view::npos)
                return failed(ReadFailure::NoSpace);
            request.method = std::string(line.substr(0, space));
            std::string_view target = line.substr(space + 1);
            target = target.substr(0, target.find(' '));
            target = origin_form(target);
            if (target.empty() || target.front() != '/')
                return failed(ReadFailure::BadTarget);
            size_t question = target.find('?');
            request.path = std::string(target.substr(0, question));
            if (question != std::string_view::npos)
                request.query = std::string(target.substr(question + 1));
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        request.headers[ascii::lowered(line.substr(0, colon))] = std::string(trim(line.substr(colon + 1)));
    }

    int declared = ascii::leading_int(request.header("content-length"));
    if (declared < 0 || static_cast<size_t>(declared) > max_body_bytes)
        return failed(ReadFailure::BadContentLength);
    std::string_view body = received.substr(end->body_start);
    if (body.size() < static_cast<size_t>(declared)) {
        // A body cut short is never acted on.
        if (ended)
            return failed(ReadFailure::ShortBody);
        return {};
    }
    request.body = std::string(body.substr(0, static_cast<size_t>(declared)));
    outcome.state = ReadOutcome::State::Done;
    return outcome;
}

std::optional<std::string_view> query_parameter(std::string_view query, std::string_view name)
{
    size_t pos = 0;
    while (pos <= query.size()) {
        size_t amp = query.find('&', pos);
        std::string_view piece = query.substr(pos, amp == std::string_view::npos ? std::string_view::npos : amp - pos);
        pos = amp == std::string_view::npos ? query.size() + 1 : amp + 1;
        size_t equals = piece.find('=');
        if (equals == std::string_view::npos)
            continue;
        if (piece.substr(0, equals) == name)
            return piece.substr(equals + 1);
    }
    return std::nullopt;
}

std::optional<std::string_view> cookie_value(std::string_view header, std::string_view name)
{
    size_t pos = 0;
    while (pos <= header.size()) {
        size_t semicolon = header.find(';', pos);
        std::string_view pair = header.substr(pos, semicolon == std::string_view::npos ? std::string_view::npos : semicolon - pos);
        pos = semicolon == std::string_view::npos ? header.size() + 1 : semicolon + 1;
        pair = trim(pair);
        size_t equals = pair.find('=');
        if (equals == std::string_view::npos)
            continue;
        if (trim(pair.substr(0, equals)) == name)
            return trim(pair.substr(equals + 1));
    }
    return std::nullopt;
}

} // namespace tillbay::door
