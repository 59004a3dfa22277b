// The XDG autostart entry. The desktop session runs the Exec line of every
// entry in the user's autostart folder at sign-in; the program's entry names
// the executable in double quotes, escaped as the Desktop Entry
// Specification asks (inside the quotes: \" \` \$ \\; then the string-value
// escape of every backslash; "%" doubled), so that any folder name works.

#include "os/autostart.h"

#include "os/fs.h"

#include <cerrno>
#include <optional>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace tillbay::os {

namespace {

constexpr char const* entry_name = "tillbay.desktop";
constexpr size_t max_entry_size = 64 * 1024;

Error fail(std::string detail) { return Error::from_detail(std::move(detail)); }

Result<std::string> autostart_dir()
{
    char const* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::string(config) + "/autostart";
    char const* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.config/autostart";
    return fail("neither XDG_CONFIG_HOME nor HOME is an absolute path");
}

// The Exec value for the path, or nullopt when the path holds a byte that no
// desktop entry can carry.
std::optional<std::string> exec_value(std::string const& path)
{
    std::string quoted = "\"";
    for (char c : path) {
        auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127)
            return std::nullopt;
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (char c : quoted) {
        if (c == '\\')
            value += "\\\\";
        else if (c == '%')
            value += "%%";
        else
            value += c;
    }
    return value;
}

// The program of an Exec value: the string-value escapes undone, then the
// first argument unquoted.
std::optional<std::string> program_of(std::string_view value)
{
    std::string text;
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            char next = value[++i];
            text += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
        } else if (c == '%' && i + 1 < value.size() && value[i + 1] == '%') {
            text += '%';
            ++i;
        } else {
            text += c;
        }
    }
    std::string program;
    if (!text.empty() && text[0] == '"') {
        size_t i = 1;
        for (; i < text.size() && text[i] != '"'; ++i) {
            if (text[i] == '\\' && i + 1 < text.size())
                ++i;
            program += text[i];
        }
        if (i >= text.size())
            return std::nullopt;
    } else {
        program = text.substr(0, text.find(' '));
    }
    if (program.empty())
        return std::nullopt;
    return program;
}

class XdgAutostart final : public Autostart {
public:
    Result<std::optional<std::string>> program() override
    {
        auto dir = TRY(autostart_dir());
        std::string path = dir + "/" + entry_name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT)
                return std::optional<std::string> {};
            return fail(path + ": " + std::strerror(errno));
        }
        auto text = TRY(read_file(path, max_entry_size));
        bool in_entry = false;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos)
                end = text.size();
            std::string_view line(text.data() + pos, end - pos);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            pos = end + 1;
            if (!line.empty() && line.front() == '[') {
                in_entry = line == "[Desktop Entry]";
                continue;
            }
            if (in_entry && line.starts_with("Exec=")) {
                if (auto program = program_of(line.substr(5)))
                    return std::optional<std::string>(*program);
                return fail(path + ": Exec line not understood");
            }
        }
        return fail(path + ": no Exec line");
    }

    Status set_program(std::string const& program) override
    {
        auto dir = TRY(autostart_dir());
        if (program.empty() || program[0] != '/')
            return fail("not an absolute path: " + program);
        auto exec = exec_value(program);
        if (!exec)
            return fail("path with control bytes");
        size_t slash = dir.rfind('/');
        if (slash != std::string::npos && slash > 0)
            TRY(make_dir(dir.substr(0, slash)));
        TRY(make_dir(dir));
        std::string entry = "[Desktop Entry]\n"
                            "Type=Application\n"
                            "Name=TILLWAVE POS\n"
                            "Comment=매장 카운터 프로그램\n"
                            "Exec="
            + *exec
            + "\n"
              "Terminal=false\n"
              "X-GNOME-Autostart-enabled=true\n";
        return write_file_atomic(dir + "/" + entry_name, entry);
    }

    Status remove() override
    {
        auto dir = TRY(autostart_dir());
        std::string path = dir + "/" + entry_name;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return fail(path + ": " + std::strerror(errno));
        return {};
    }
};

} // namespace

std::unique_ptr<Autostart> desktop_autostart() { return std::make_unique<XdgAutostart>(); }

} // namespace tillbay::os
