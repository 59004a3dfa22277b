#include "printing/discovery/wsd_message.h"

#include "os/crypto.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

namespace tillbay::discovery::wsd {

namespace {

constexpr std::string_view probe_head
    = "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
      "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
      "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
      "xmlns:p=\"http://schemas.microsoft.com/windows/2006/08/wdp/print\"><s:Header><a:MessageID>";
constexpr std::string_view probe_tail
    = "</a:MessageID><a:To>urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To><a:Action>"
      "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</a:Action></s:Header><s:Body><d:Probe>"
      "<d:Types>p:PrintDevice</d:Types></d:Probe></s:Body></s:Envelope>";

std::string_view local_name(std::string_view qualified)
{
    size_t colon = qualified.rfind(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

std::string_view trimmed(std::string_view text)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool name_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '_'
        || c == '-' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

// Appends the text with the predefined entities and character references
// decoded (references above ASCII are kept as '?', which no name we look
// for contains). False for any other entity.
bool append_text(std::string& out, std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c != '&') {
            if (out.size() < max_element_text)
                out += c;
            ++i;
            continue;
        }
        size_t semicolon = text.find(';', i);
        if (semicolon == std::string_view::npos || semicolon - i > 12)
            return false;
        std::string_view entity = text.substr(i + 1, semicolon - i - 1);
        char decoded;
        if (entity == "lt")
            decoded = '<';
        else if (entity == "gt")
            decoded = '>';
        else if (entity == "amp")
            decoded = '&';
        else if (entity == "quot")
            decoded = '"';
        else if (entity == "apos")
            decoded = '\'';
        else if (entity.size() >= 2 && entity[0] == '#') {
            bool hex = entity[1] == 'x';
            std::string_view digits = entity.substr(hex ? 2 : 1);
            if (digits.empty())
                return false;
            unsigned long value = 0;
            for (char d : digits) {
                int v = (d >= '0' && d <= '9') ? d - '0'
                    : (hex && d >= 'a' && d <= 'f') ? d - 'a' + 10
                    : (hex && d >= 'A' && d <= 'F') ? d - 'A' + 10
                                                    : -1;
                if (v < 0)
                    return false;
                value = value * (hex ? 16 : 10) + static_cast<unsigned long>(v);
                if (value > 0x10FFFF)
                    return false;
            }
            decoded = value < 0x80 ? static_cast<char>(value) : '?';
        } else {
            return false;
        }
        if (out.size() < max_element_text)
            out += decoded;
        i = semicolon + 1;
    }
    return true;
}

struct Open {
    std::string_view name; // local name
    std::string text;
};

} // namespace

std::string new_message_id()
{
    std::array<uint8_t, 16> bytes {};
    if (!os::random_bytes(bytes)) {
        auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(now >> ((i % 8) * 8)) ^ static_cast<uint8_t>(i * 37);
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    char text[40];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
        bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
        bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return std::string("urn:uuid:") + text;
}

std::string probe(std::string_view message_id)
{
    std::string out;
    out.reserve(probe_head.size() + message_id.size() + probe_tail.size());
    out += probe_head;
    out += message_id;
    out += probe_tail;
    return out;
}

Verdict read_probe_match(std::string_view document, std::string_view message_id)
{
    if (document.size() > max_document)
        return Verdict::Malformed;
    std::vector<Open> stack;
    size_t elements = 0;
    int probe_match_depth = -1;
    bool relates = false, printer = false, match = false;

    size_t i = 0;
    while (i < document.size()) {
        size_t lt = document.find('<', i);
        std::string_view text = document.substr(i, (lt == std::string_view::npos ? document.size() : lt) - i);
        if (!text.empty()) {
            if (stack.empty()) {
                if (!trimmed(text).empty())
                    return Verdict::Malformed;
            } else if (!append_text(stack.back().text, text)) {
                return Verdict::Refused;
            }
        }
        if (lt == std::string_view::npos)
            break;
        std::string_view rest = document.substr(lt);
        if (rest.substr(0, 4) == "<!--") {
            size_t end = rest.find("-->", 4);
            if (end == std::string_view::npos)
                return Verdict::Malformed;
            i = lt + end + 3;
            continue;
        }
        if (rest.substr(0, 9) == "<![CDATA[") {
            size_t end = rest.find("]]>", 9);
            if (end == std::string_view::npos || stack.empty())
                return Verdict::Malformed;
            std::string& into = stack.back().text;
            into.append(rest.substr(9, std::min(end - 9, max_element_text - std::min(into.size(), max_element_text))));
            i = lt + end + 3;
            continue;
        }
        if (rest.substr(0, 2) == "<!")
            return Verdict::Refused; // DOCTYPE, ENTITY and every other declaration
        if (rest.substr(0, 2) == "<?") {
            size_t end = rest.find("?>", 2);
            if (end == std::string_view::npos)
                return Verdict::Malformed;
            i = lt + end + 2;
            continue;
        }
        bool closing = rest.size() > 1 && rest[1] == '/';
        size_t at = closing ? 2 : 1;
        size_t name_start = at;
        while (at < rest.size() && name_char(rest[at]))
            ++at;
        std::string_view name = rest.substr(name_start, at - name_start);
        if (name.empty())
            return Verdict::Malformed;
        // Attributes: skip to the closing '>', stepping over quoted values.
        char quote = 0;
        while (at < rest.size() && (quote || rest[at] != '>')) {
            char c = rest[at];
            if (quote) {
                if (c == quote)
                    quote = 0;
                else if (c == '<')
                    return Verdict::Malformed;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '<') {
                return Verdict::Malformed;
            } else if (c == '&') {
                return Verdict::Refused; // entities in attributes are never needed here
            }
            ++at;
        }
        if (at >= rest.size())
            return Verdict::Malformed;
        bool empty_element = !closing && rest[at - 1] == '/';
        i = lt + at + 1;
        std::string_view local = local_name(name);

        if (closing) {
            if (stack.empty() || stack.back().name != local)
                return Verdict::Malformed;
            Open const& done = stack.back();
            if (done.name == "RelatesTo" && trimmed(done.text) == message_id)
                relates = true;
            if (done.name == "Types" && probe_match_depth >= 0) {
                std::string_view types = done.text;
                size_t start = 0;
                while (start <= types.size()) {
                    size_t end = types.find_first_of(" \t\r\n", start);
                    if (end == std::string_view::npos)
                        end = types.size();
                    std::string_view type = local_name(types.substr(start, end - start));
                    if (type == "PrintDevice" || type == "PrintBasic")
                        printer = true;
                    start = end + 1;
                }
            }
            if (static_cast<int>(stack.size()) - 1 == probe_match_depth) {
                match = match || printer;
                probe_match_depth = -1;
            }
            stack.pop_back();
            continue;
        }
        if (++elements > max_elements || stack.size() >= max_depth)
            return Verdict::Malformed;
        if (empty_element)
            continue;
        if (local == "ProbeMatch" && probe_match_depth < 0) {
            probe_match_depth = static_cast<int>(stack.size());
            printer = false;
        }
        stack.push_back({ local, {} });
    }
    if (!stack.empty())
        return Verdict::Malformed;
    return relates && match ? Verdict::Match : Verdict::NotOurs;
}

} // namespace tillbay::discovery::wsd
