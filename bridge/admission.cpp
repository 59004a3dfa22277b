#include "bridge/admission.h"

#include "base/utf8.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace tillbay::bridge {

namespace {

constexpr size_t max_digits = 20;
constexpr size_t max_number_length = 24;
constexpr size_t max_gps_address = 600;
constexpr size_t max_print_link = 1024; // exclusive
constexpr size_t max_mall_file = 204'800;

constexpr std::array<std::string_view, 12> login_page_commands = {
    "loginready", "login", "merchlogin", "setloginmode", "getfull", "setfull", "getservice", "gettheme", "quitapp",
    "restartapp", "updateretry", "keptboard",
};

bool is_message_text(std::string_view message)
{
    for (char ch : message) {
        auto c = static_cast<unsigned char>(ch);
        if (c == 0 || c == 127 || (c < 32 && c != '\t' && c != '\n' && c != '\r'))
            return false;
    }
    return utf8::is_valid(message);
}

bool is_digits(std::string_view text)
{
    if (text.empty() || text.size() > max_digits)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool is_printer_kind(std::string_view text) { return text == "k" || text == "r"; }

bool is_web_host_address(std::string_view text, PagePolicy const& policy)
{
    std::string address(text);
    if (text.size() >= 1 && text[0] == '/' && (text.size() < 2 || text[1] != '/'))
        address = policy.web_origin() + address;
    auto parsed = parse_address(address, ui_scheme);
    if (!parsed || parsed->file || parsed->host == ui_virtual_host)
        return false;
    Address const& web = policy.web_host();
    return parsed->scheme == web.scheme && parsed->host == web.host && parsed->port == web.port;
}

enum class Rule {
    Pass,   // the command has no rule: any arguments
    Ok,
    Refuse,
};

Rule argument_rule(std::vector<std::string> const& f, PageClass page_class, PagePolicy const& policy)
{
    std::string_view name = f[0];
    size_t n = f.size();
    auto verdict = [](bool ok) { return ok ? Rule::Ok : Rule::Refuse; };
    bool dedicated = page_class == PageClass::Orders;
    bool bundle = page_class == PageClass::UiBundle;
    bool owner_pages = dedicated || bundle;

    if (name == "setgpspos")
        return verdict(page_class == PageClass::AddressPage && n == 4 && !f[1].empty() && f[1].size() <= max_gps_address
            && is_safe_text(f[1]) && is_bounded_number(f[2], -90, 90) && is_bounded_number(f[3], -180, 180));
    if (name == "viewphoto" || name == "openpdf")
        return verdict(owner_pages && n == 2 && is_web_host_address(f[1], policy));
    if (name == "restartapp" || name == "updateretry" || name == "quitapp" || name == "loginready" || name == "getfull"
        || name == "getservice" || name == "gettheme" || name == "keptboard")
        return verdict(n == 1);
    if (name == "getmerchantkbd")
        return verdict(owner_pages && n == 1);
    if (name == "setmerchantkbd")
        return verdict(owner_pages && n == 2 && (f[1] == "0" || f[1] == "1"));
    if (name == "discoverprinters")
        return verdict(dedicated && n == 3 && is_printer_kind(f[1]) && is_digits(f[2]));
    if (name == "cancelprinterdiscovery")
        return verdict(dedicated && n == 2 && is_digits(f[1]));
    if (name == "getprintlinks")
        return verdict(dedicated && n == 2 && is_printer_kind(f[1]));
    if (name == "setprintlink")
        return verdict(dedicated && n == 3 && is_printer_kind(f[1]) && f[2].size() < max_print_link && is_safe_text(f[2]));
    if (name == "minimizewindow")
        return verdict(dedicated && n == 1);
    if (name == "printa4")
        return verdict(bundle && n == 1);
    if (name == "openinvoicefile")
        return verdict(bundle && (n == 1 || (n == 2 && f[1] == "x")));
    if (name == "mallshipcsv") {
        if (!bundle || n < 7 || n > 9)
            return Rule::Refuse;
        bool ok = f[1].size() <= 7 && f[2].size() <= 8 && f[3].size() <= 8 && f[4].size() <= 160 && f[5].size() <= 10
            && f[6] == "basic";
        if (n >= 8)
            ok = ok && f[7].size() <= 120;
        if (n == 9)
            ok = ok && f[8] == "xlsx";
        return verdict(ok);
    }
    if (name == "mallsavecsv") {
        if (!bundle || n < 3 || n > 4)
            return Rule::Refuse;
        bool body = !f[2].empty() && f[2].size() <= max_mall_file;
        if (n == 3)
            return verdict(f[1] == "fail" && body);
        if (n == 4)
            return verdict(f[1] == "template" && f[3] == "xlsx" && body);
        return Rule::Refuse;
    }
    if (name == "setfull")
        return verdict(n == 1 || (n == 2 && (f[1] == "0" || f[1] == "1")));
    if (name == "setloginmode")
        return verdict(n == 2 && (f[1] == "pos" || f[1] == "merch"));
    if (name == "back" && page_class == PageClass::AddressPage)
        return verdict(n == 1 || (n == 2 && f[1] == "1"));
    return Rule::Pass;
}

} // namespace

std::vector<std::string> split_fields(std::string_view text)
{
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        size_t at = text.find(field_separator, start);
        if (at == std::string_view::npos) {
            fields.emplace_back(text.substr(start));
            return fields;
        }
        fields.emplace_back(text.substr(start, at - start));
        start = at + field_separator.size();
    }
}

bool is_command_name(std::string_view name)
{
    if (name.empty() || name.size() > max_command_name)
        return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

std::string_view refusal_reason(Refusal refusal)
{
    switch (refusal) {
    case Refusal::None:
        return "";
    case Refusal::Message:
        return "message";
    case Refusal::DocumentCapability:
        return "document capability";
    case Refusal::Arguments:
        return "arguments";
    }
    return "";
}

bool is_bounded_number(std::string_view text, double low, double high)
{
    if (text.empty() || text.size() > max_number_length)
        return false;
    size_t i = text[0] == '-' ? 1 : 0;
    size_t digits = 0, dots = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c == '.')
            ++dots;
        else
            return false;
    }
    if (digits == 0 || dots > 1)
        return false;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return false;
    return value >= low && value <= high;
}

Refusal admit(std::string_view message, PageClass page_class, PagePolicy const& policy)
{
    if (page_class == PageClass::None || page_class == PageClass::Customer)
        return Refusal::Message;
    if (message.empty() || message.size() > max_message_bytes || !is_message_text(message))
        return Refusal::Message;
    // The name comes first so that a huge message is not split for nothing.
    std::string_view name = message.substr(0, message.find(field_separator));
    if (!is_command_name(name))
        return Refusal::Message;
    if (message.size() > max_plain_message_bytes && name != "qrpng")
        return Refusal::Message;
    std::vector<std::string> fields = split_fields(message);
    if (fields.size() > max_fields)
        return Refusal::Message;

    if (page_class == PageClass::AddressPage && name != "back" && name != "setgpspos")
        return Refusal::DocumentCapability;
    if (page_class == PageClass::Login
        && std::find(login_page_commands.begin(), login_page_commands.end(), name) == login_page_commands.end())
        return Refusal::DocumentCapability;

    if (argument_rule(fields, page_class, policy) == Rule::Refuse)
        return Refusal::Arguments;
    return Refusal::None;
}

} // namespace tillbay::bridge
