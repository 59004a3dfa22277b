#include "tools/platform/commands.h"

#include <charconv>
#include <ctime>

namespace tillbay::platform {

std::string Call::str(std::string const& name, std::string const& fallback) const
{
    auto it = form.find(name);
    return it == form.end() ? fallback : it->second;
}

long long Call::num(std::string const& name, long long fallback) const
{
    auto it = form.find(name);
    if (it == form.end() || it->second.empty())
        return fallback;
    long long value = 0;
    auto const& s = it->second;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size())
        return fallback;
    return value;
}

long long now_seconds() { return static_cast<long long>(std::time(nullptr)); }

std::string local_time_text(long long seconds, char const* format)
{
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm {};
    localtime_r(&t, &tm);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, format, &tm);
    return buffer;
}

namespace {

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string percent_decode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::map<std::string, std::string> parse_form(std::string_view text)
{
    std::map<std::string, std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view pair = text.substr(start, end - start);
        if (!pair.empty()) {
            size_t eq = pair.find('=');
            std::string name = percent_decode(pair.substr(0, eq));
            std::string value = eq == std::string_view::npos ? std::string() : percent_decode(pair.substr(eq + 1));
            out.emplace(std::move(name), std::move(value));
        }
        start = end + 1;
    }
    return out;
}

CommandTables const& command_tables()
{
    static CommandTables const tables = [] {
        CommandTables t;
        register_login_commands(t);
        register_order_commands(t);
        register_menu_commands(t);
        register_store_commands(t);
        register_sales_commands(t);
        return t;
    }();
    return tables;
}

} // namespace tillbay::platform
