#include "foundation/ini.h"

#include "base/ascii.h"
#include "os/crypto.h"
#include "os/fs.h"

#include <climits>

namespace tillbay::ini {

namespace {

constexpr std::string_view k_bom = "\xEF\xBB\xBF";

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view text)
{
    while (!text.empty() && is_blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool has_line_breaking_byte(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

enum class LineKind { Blank, Header, Entry, Other };

// One line of the file as the profile rules see it. `end` stops before the
// line's LF (and before a CR right in front of it); `next` is where the
// following line begins.
struct Line {
    size_t begin = 0;
    size_t end = 0;
    size_t next = 0;
    LineKind kind = LineKind::Blank;
    std::string_view name;  // section name of a header, key of an entry
    std::string_view value; // raw value of an entry (trimmed, quotes kept)
};

// Calls visit(line) for each line in file order until it returns false.
template<typename Visit>
void for_each_line(std::string_view content, Visit&& visit)
{
    size_t pos = content.starts_with(k_bom) ? k_bom.size() : 0;
    while (pos < content.size()) {
        Line line;
        line.begin = pos;
        size_t lf = content.find('\n', pos);
        if (lf == std::string_view::npos) {
            line.end = content.size();
            line.next = content.size();
        } else {
            line.end = (lf > pos && content[lf - 1] == '\r') ? lf - 1 : lf;
            line.next = lf + 1;
        }
        auto text = trim(content.substr(line.begin, line.end - line.begin));
        if (text.empty()) {
            line.kind = LineKind::Blank;
        } else if (text.front() == '[' && text.find(']') != std::string_view::npos) {
            line.kind = LineKind::Header;
            line.name = trim(text.substr(1, text.rfind(']') - 1));
        } else if (auto eq = text.find('='); eq != std::string_view::npos) {
            line.kind = LineKind::Entry;
            line.name = trim(text.substr(0, eq));
            line.value = trim(text.substr(eq + 1));
        } else {
            line.kind = LineKind::Other;
            line.name = text;
        }
        if (!visit(line))
            return;
        pos = line.next;
    }
}

// Calls visit(line, in_first_section) for every line inside a section of
// the given name; headers are not passed.
template<typename Visit>
void for_each_section_line(std::string_view content, std::string_view section, Visit&& visit)
{
    bool in_section = false;
    bool seen_section = false;
    bool in_first_section = false;
    for_each_line(content, [&](Line const& line) {
        if (line.kind == LineKind::Header) {
            in_section = ascii::equals_ignoring_case(line.name, section);
            in_first_section = in_section && !seen_section;
            seen_section = seen_section || in_section;
            return in_first_section ? visit(line, true) : true;
        }
        return in_section ? visit(line, in_first_section) : true;
    });
}

bool is_key_line(Line const& line, std::string_view key)
{
    return line.kind == LineKind::Entry && ascii::equals_ignoring_case(line.name, key);
}

std::string_view strip_quotes(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// The line break to put after a line that ends the file without one: a
// trailing CR needs only its LF.
std::string_view missing_line_end(std::string_view content)
{
    if (content.empty() || content.back() == '\n')
        return {};
    return content.back() == '\r' ? "\n" : "\r\n";
}

} // namespace

bool is_valid_section(std::string_view section)
{
    return !section.empty() && !has_line_breaking_byte(section) && section.find(']') == std::string_view::npos
        && trim(section) == section;
}

bool is_valid_key(std::string_view key)
{
    return !key.empty() && !has_line_breaking_byte(key) && key.find('=') == std::string_view::npos
        && key.front() != '[' && trim(key) == key;
}

bool is_valid_value(std::string_view value) { return !has_line_breaking_byte(value); }

std::optional<std::string_view> find_value(std::string_view content, std::string_view section, std::string_view key)
{
    std::optional<std::string_view> found;
    for_each_section_line(content, section, [&](Line const& line, bool) {
        if (is_key_line(line, key))
            found = strip_quotes(line.value);
        return !found;
    });
    return found;
}

std::string with_value(std::string_view content, std::string_view section, std::string_view key,
    std::optional<std::string_view> value)
{
    std::string out;
    if (!value) {
        // Every occurrence goes, so that no later duplicate shows through.
        out.reserve(content.size());
        size_t pos = 0;
        for_each_section_line(content, section, [&](Line const& line, bool) {
            if (is_key_line(line, key)) {
                out.append(content.substr(pos, line.begin - pos));
                pos = line.next;
            }
            return true;
        });
        out.append(content.substr(pos));
        return out;
    }

    std::optional<Line> entry;
    std::optional<Line> first_section_last; // last non-blank line of the first section, its header at least
    for_each_section_line(content, section, [&](Line const& line, bool in_first_section) {
        if (is_key_line(line, key)) {
            entry = line;
            return false;
        }
        if (in_first_section && line.kind != LineKind::Blank)
            first_section_last = line;
        return true;
    });
    out.reserve(content.size() + key.size() + section.size() + value->size() + 16);

    if (entry) {
        // The key keeps its spelling in the file; blanks around "=" go.
        out.append(content.substr(0, entry->begin));
        out.append(entry->name);
        out.push_back('=');
        out.append(*value);
        out.append(content.substr(entry->end));
        return out;
    }

    if (first_section_last) {
        out.append(content.substr(0, first_section_last->next));
        if (first_section_last->next == content.size())
            out.append(missing_line_end(content));
        out.append(key);
        out.push_back('=');
        out.append(*value);
        out.append("\r\n");
        out.append(content.substr(first_section_last->next));
        return out;
    }

    out.append(content);
    if (!content.empty() && content != k_bom) {
        out.append(missing_line_end(content));
        out.append("\r\n");
    }
    out.push_back('[');
    out.append(section);
    out.append("]\r\n");
    out.append(key);
    out.push_back('=');
    out.append(*value);
    out.append("\r\n");
    return out;
}

int parse_int(std::string_view text, int default_value)
{
    text = trim(text);
    if (text.empty())
        return default_value;
    bool negative = false;
    size_t i = 0;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        ++i;
    }
    long long magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1)
            magnitude = static_cast<long long>(INT_MAX) + 1;
    }
    long long signed_value = negative ? -magnitude : magnitude;
    if (signed_value > INT_MAX)
        return INT_MAX;
    if (signed_value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(signed_value);
}

std::optional<std::string> get_string(std::string const& path, std::string_view section, std::string_view key)
{
    if (path.empty())
        return std::nullopt;
    auto content = os::read_file(path, k_max_file_bytes);
    if (!content.ok())
        return std::nullopt;
    std::optional<std::string> result;
    if (auto value = find_value(content.value(), section, key))
        result = std::string(*value);
    // The file holds the sign-in key and the staff lock's hash.
    wipe(content.value());
    return result;
}

int get_int(std::string const& path, std::string_view section, std::string_view key, int default_value)
{
    auto text = get_string(path, section, key);
    return text ? parse_int(*text, default_value) : default_value;
}

bool set_string(std::string const& path, std::string_view section, std::string_view key,
    std::optional<std::string_view> value)
{
    if (path.empty() || !is_valid_section(section) || !is_valid_key(key) || (value && !is_valid_value(*value)))
        return false;
    std::lock_guard lock(write_lock());
    std::string content;
    if (os::file_exists(path)) {
        auto read = os::read_file(path, k_max_file_bytes);
        if (!read.ok())
            return false;
        content = read.release_value();
    } else if (!value) {
        return true;
    }
    auto updated = with_value(content, section, key, value);
    bool ok = updated == content || os::write_file_atomic(path, updated).ok();
    wipe(content);
    wipe(updated);
    return ok;
}

std::mutex& write_lock()
{
    static std::mutex lock;
    return lock;
}

} // namespace tillbay::ini
