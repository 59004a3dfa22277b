#include "foundation/settings.h"

#include "base/ascii.h"
#include "foundation/builtin_defaults.h"
#include "foundation/ini.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "os/fs.h"

#include <atomic>

namespace tillbay::settings {

namespace {

constexpr std::string_view k_bom = "\xEF\xBB\xBF";

// The profile reader hands out at most this many UTF-16 characters, as the
// old 512-character read buffers did.
constexpr size_t k_max_text_units = 511;

ServerSettings g_server;
std::atomic<State> g_state { State::NoFile };
std::atomic<bool> g_migrated { false };

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Cuts a UTF-8 text to at most max_bytes without splitting a character, and
// to at most k_max_text_units UTF-16 units.
std::string clip_text(std::string_view text, size_t max_bytes)
{
    size_t units = 0;
    size_t end = 0;
    while (end < text.size()) {
        auto byte = static_cast<unsigned char>(text[end]);
        size_t width = byte >= 0xF0 ? 2 : (is_continuation(text[end]) ? 0 : 1);
        if (units + width > k_max_text_units)
            break;
        units += width;
        ++end;
    }
    if (end > max_bytes) {
        end = max_bytes;
        size_t backed = 0;
        while (end > 0 && end < text.size() && is_continuation(text[end]) && backed < 3) {
            --end;
            ++backed;
        }
    }
    return std::string(text.substr(0, end));
}

bool is_ascii(std::string_view text)
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) > 127)
            return false;
    }
    return true;
}

// A server text setting: the whole default unless the value read is a
// non-empty ASCII text, so that a mistyped non-ASCII host is never partly
// kept.
std::string ascii_setting(std::string_view key, size_t max_bytes, std::string const& default_value)
{
    auto value = read_text("SERVER", key, max_bytes + 1);
    if (value.empty() || !is_ascii(value))
        value = default_value;
    if (value.size() > max_bytes)
        value.resize(max_bytes);
    return value;
}

std::string_view missing_line_end(std::string_view content)
{
    if (content.empty() || content.back() == '\n')
        return {};
    return content.back() == '\r' ? "\n" : "\r\n";
}

bool section_name_at(std::string_view content, size_t bracket, std::string_view section)
{
    size_t name = bracket + 1;
    if (content.size() - name < section.size() + 1)
        return false;
    return ascii::equals_ignoring_case(content.substr(name, section.size()), section)
        && content[name + section.size()] == ']';
}

bool starts_line(std::string_view content, size_t pos, size_t file_start)
{
    return pos == file_start || content[pos - 1] == '\r' || content[pos - 1] == '\n';
}

SecretString secret_or(std::string_view section, std::string_view key, SecretString (*builtin)())
{
    auto value = read_text(section, key, 256);
    if (value.empty())
        return builtin();
    return SecretString(std::move(value));
}

} // namespace

std::string read_text(std::string_view section, std::string_view key, size_t size)
{
    if (size == 0)
        return {};
    auto value = ini::get_string(paths::settings_path(), section, key);
    if (!value)
        return {};
    auto result = clip_text(*value, size - 1);
    wipe(*value);
    return result;
}

int read_int(std::string_view section, std::string_view key, int default_value)
{
    return ini::get_int(paths::settings_path(), section, key, default_value);
}

bool write_profile(std::string_view section, std::string_view key, std::optional<std::string_view> value)
{
    return ini::set_string(paths::settings_path(), section, key, value);
}

std::string line_preserving_edit(std::string_view content, std::string_view section, std::string_view key,
    std::string_view value)
{
    size_t const file_start = content.starts_with(k_bom) ? k_bom.size() : 0;

    std::optional<size_t> header;
    for (size_t pos = content.find('[', file_start); pos != std::string_view::npos; pos = content.find('[', pos + 1)) {
        if (starts_line(content, pos, file_start) && section_name_at(content, pos, section)) {
            header = pos;
            break;
        }
    }

    std::string out;
    out.reserve(content.size() + section.size() + key.size() + value.size() + 16);

    if (!header) {
        out.append(content);
        out.append(missing_line_end(content));
        out.append("\r\n[");
        out.append(section);
        out.append("]\r\n");
        out.append(key);
        out.append(" = ");
        out.append(value);
        out.append("\r\n");
        return out;
    }

    size_t header_lf = content.find('\n', *header);
    size_t body_start = header_lf == std::string_view::npos ? content.size() : header_lf + 1;
    size_t body_end = content.size();
    for (size_t pos = content.find('[', body_start); pos != std::string_view::npos; pos = content.find('[', pos + 1)) {
        if (starts_line(content, pos, file_start)) {
            body_end = pos;
            break;
        }
    }

    for (size_t line = body_start; line < body_end;) {
        size_t lf = content.find('\n', line);
        bool has_lf = lf != std::string_view::npos && lf < body_end;
        size_t stop = has_lf ? lf : body_end;

        size_t pos = line;
        while (pos < stop && (content[pos] == ' ' || content[pos] == '\t'))
            ++pos;
        if (stop - pos >= key.size() && content.substr(pos, key.size()) == key) {
            pos += key.size();
            while (pos < stop && (content[pos] == ' ' || content[pos] == '\t'))
                ++pos;
            if (pos < stop && content[pos] == '=') {
                out.append(content.substr(0, pos + 1));
                out.push_back(' ');
                out.append(value);
                if (has_lf) {
                    if (lf > pos + 1 && content[lf - 1] == '\r')
                        out.push_back('\r');
                    out.append(content.substr(lf));
                } else if (body_end < content.size()) {
                    // The line ends in a lone CR right before the next
                    // section; that CR keeps the header on its own line.
                    out.append(content.substr(body_end - 1));
                }
                return out;
            }
        }
        line = has_lf ? lf + 1 : body_end;
    }

    // The key goes right under the header, so that it is the first of its
    // name in the section even when a differently spelled one exists.
    out.append(content.substr(0, body_start));
    if (body_start == content.size())
        out.append(missing_line_end(content));
    out.append(key);
    out.append(" = ");
    out.append(value);
    out.append("\r\n");
    out.append(content.substr(body_start));
    return out;
}

bool write_line_preserving(std::string_view section, std::string_view key, std::string_view value)
{
    auto path = paths::settings_path();
    if (path.empty() || !ini::is_valid_section(section) || !ini::is_valid_key(key) || !ini::is_valid_value(value))
        return false;
    std::lock_guard lock(ini::write_lock());
    auto content = os::read_file(path, k_max_rewrite_bytes);
    if (!content.ok())
        return false;
    auto updated = line_preserving_edit(content.value(), section, key, value);
    bool ok = os::write_file_atomic(path, updated).ok();
    wipe(content.value());
    wipe(updated);
    return ok;
}

bool write_line_preserving(std::string_view section,
    std::span<std::pair<std::string_view, std::string_view> const> values)
{
    auto path = paths::settings_path();
    if (path.empty() || !ini::is_valid_section(section) || values.empty())
        return false;
    for (auto const& [key, value] : values) {
        if (!ini::is_valid_key(key) || !ini::is_valid_value(value))
            return false;
    }
    std::lock_guard lock(ini::write_lock());
    auto content = os::read_file(path, k_max_rewrite_bytes);
    if (!content.ok())
        return false;
    std::string updated = content.value();
    for (auto const& [key, value] : values) {
        std::string next = line_preserving_edit(updated, section, key, value);
        wipe(updated);
        updated = std::move(next);
    }
    bool ok = os::write_file_atomic(path, updated).ok();
    wipe(content.value());
    wipe(updated);
    return ok;
}

std::optional<std::string> normalised_line_endings(std::string_view content)
{
    if (content.size() < 3 || content.size() > k_max_rewrite_bytes)
        return std::nullopt;
    bool has_bom = content.starts_with(k_bom);
    bool has_lone = false;
    for (size_t i = 0; i < content.size() && !has_lone; ++i) {
        if (content[i] == '\n' && (i == 0 || content[i - 1] != '\r'))
            has_lone = true;
        else if (content[i] == '\r' && (i + 1 == content.size() || content[i + 1] != '\n'))
            has_lone = true;
    }
    if (!has_bom && !has_lone)
        return std::nullopt;

    std::string out;
    out.reserve(content.size() + content.size() / 8 + 2);
    for (size_t i = has_bom ? k_bom.size() : 0; i < content.size(); ++i) {
        char c = content[i];
        if (c == '\r') {
            out.append("\r\n");
            if (i + 1 < content.size() && content[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            out.append("\r\n");
        } else {
            out.push_back(c);
        }
    }
    return out;
}

void normalise_line_endings(std::string const& path)
{
    if (path.empty())
        return;
    std::lock_guard lock(ini::write_lock());
    auto content = os::read_file(path, k_max_rewrite_bytes);
    if (!content.ok())
        return;
    if (auto updated = normalised_line_endings(content.value())) {
        // A failed write leaves the old file, which the readers still understand.
        (void)os::write_file_atomic(path, *updated);
        wipe(*updated);
    }
    wipe(content.value());
}

namespace {

enum class Migration { None, Done, Failed };

// Applies the migration to the file under the write lock; the caller logs
// the outcome once the lock is released.
Migration migrate_file(std::string const& path, bool& test_server)
{
    std::lock_guard lock(ini::write_lock());
    auto read = os::read_file(path, ini::k_max_file_bytes);
    if (!read.ok())
        return Migration::None;
    auto content = read.release_value();
    auto text = [&](std::string_view key, size_t size) {
        auto value = ini::find_value(content, "SERVER", key);
        return value ? clip_text(*value, size - 1) : std::string {};
    };
    auto tls = text("tls", 8);
    auto port = text("port", 16);
    auto relayport = text("relayport", 16);
    auto host = text("host", 128);
    auto tlsfp = text("tlsfp", 80);
    if (!(tls.empty() || tls == "0") || port != "9000" || relayport != "2626" || !tlsfp.empty()) {
        wipe(content);
        return Migration::None;
    }

    // All keys change in one replacement of the file, so that a failure
    // never leaves TLS switched on against the old plain-text port.
    test_server = host == builtin::test_server_host();
    auto updated = ini::with_value(content, "SERVER", "tls", "1");
    updated = ini::with_value(updated, "SERVER", "port", "9443");
    updated = ini::with_value(updated, "SERVER", "relayport", "2627");
    if (test_server)
        updated = ini::with_value(updated, "SERVER", "tlsfp", builtin::test_server_fingerprint());
    bool ok = os::write_file_atomic(path, updated).ok();
    wipe(content);
    wipe(updated);
    return ok ? Migration::Done : Migration::Failed;
}

} // namespace

void migrate_old_server_settings()
{
    auto path = paths::settings_path();
    if (path.empty() || !os::file_exists(path))
        return;
    bool test_server = false;
    switch (migrate_file(path, test_server)) {
    case Migration::None:
        return;
    case Migration::Failed:
        log::bridge("INI", "옛 기본값을 옮기지 못했습니다 — tillbay.ini 를 쓸 수 없습니다");
        return;
    case Migration::Done:
        log::bridge("INI",
            std::string("옛 기본값(평문 9000/2626) → 암호화(9443/2627)로 옮김")
                + (test_server ? " · 테스트 지문 넣음" : " · 운영(정식 인증서, 지문 없음)"));
        g_migrated = true;
        return;
    }
}

void read_server_settings()
{
    ServerSettings record;
    State state = State::NoFile;
    auto path = paths::settings_path();
    if (path.empty()) {
        // Without a settings path everything takes its default, TLS included:
        // an unknown installation never talks to the server in plain text.
        record.host = builtin_host();
        record.webhost = builtin_webhost();
        g_server = record;
        g_state = state;
        return;
    }
    if (os::file_exists(path)) {
        normalise_line_endings(path);
        auto present = read_text("SERVER", "port", 64);
        if (present.empty())
            present = read_text("SERVER", "host", 128);
        state = present.empty() ? State::MissingServer : State::Ok;
    }

    record.host = ascii_setting("host", 127, builtin_host());
    record.webhost = ascii_setting("webhost", 127, record.host == builtin_host() ? builtin_webhost() : record.host);

    record.port = read_int("SERVER", "port", 9000);
    if (record.port < 1 || record.port > 65535)
        record.port = 9000;
    record.relayport = read_int("SERVER", "relayport", 2626);
    if (record.relayport < 1 || record.relayport > 65535)
        record.relayport = 2626;
    record.storeidx = read_int("STORE", "storeidx", 0);
    if (record.storeidx < 0 || record.storeidx > 1000000)
        record.storeidx = 0;
    record.devicetype = read_int("STORE", "devicetype", 1);
    if (record.devicetype < 1 || record.devicetype > 99)
        record.devicetype = 1;
    record.tls = read_int("SERVER", "tls", 1) != 0;
    record.tlsfp = ascii_setting("tlsfp", 79, {});

    g_server = record;
    g_state = state;
}

ServerSettings const& server() { return g_server; }
State state() { return g_state; }
bool take_migrated_flag() { return g_migrated.exchange(false); }

SecretString server_header() { return secret_or("SERVER", "header", builtin::server_header); }
SecretString relay_header() { return secret_or("RELAY", "header", builtin::relay_header); }
SecretString app_key() { return secret_or("APPKEY", "key", builtin::app_key); }
SecretString app_iv() { return secret_or("APPKEY", "iv", builtin::app_iv); }

std::string const& builtin_host() { return builtin::host(); }
std::string const& builtin_webhost() { return builtin::webhost(); }

} // namespace tillbay::settings
