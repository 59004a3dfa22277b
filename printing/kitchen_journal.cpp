#include "printing/kitchen_journal.h"

#include "foundation/paths.h"
#include "os/crypto.h"
#include "os/fs.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

namespace tillbay::printing {

namespace {

// The numbers of one line, or nothing when it holds anything else.
std::optional<std::vector<long long>> numbers(std::string_view line)
{
    std::vector<long long> out;
    size_t at = 0;
    while (at < line.size()) {
        size_t end = line.find(' ', at);
        if (end == std::string_view::npos)
            end = line.size();
        long long value = 0;
        auto [ptr, ec] = std::from_chars(line.data() + at, line.data() + end, value);
        if (ec != std::errc() || ptr != line.data() + end)
            return std::nullopt;
        out.push_back(value);
        at = end + 1;
    }
    return out;
}

} // namespace

std::string journal_text(Journal const& journal)
{
    std::string text = std::string(journal_magic) + "\n";
    for (auto const& [orderidx, e] : journal.orders) {
        char line[160];
        std::snprintf(line, sizeof line, "%d %d %d %d %lld %d %lld\n", orderidx, e.paystatus, static_cast<int>(e.state),
            e.kind, e.pickup, e.prints, static_cast<long long>(e.last_print));
        text += line;
    }
    // The end mark: a file cut short by a full disk is seen as such.
    text += "end\n";
    return text;
}

std::optional<Journal> parse_journal(std::string_view text)
{
    if (text.size() > max_journal_bytes)
        return std::nullopt;
    Journal journal;
    size_t at = 0;
    bool first = true;
    bool ended = false;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            return std::nullopt; // every line, the last included, ends in a line feed
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (ended)
            return std::nullopt;
        if (first) {
            if (line != journal_magic)
                return std::nullopt;
            first = false;
            continue;
        }
        if (line == "end") {
            ended = true;
            continue;
        }
        auto values = numbers(line);
        if (!values || values->size() != 7 || (*values)[0] <= 0 || (*values)[0] > INT32_MAX || (*values)[2] < 0
            || (*values)[2] > 3 || journal.orders.size() >= max_journal_orders)
            return std::nullopt;
        auto const& v = *values;
        JournalEntry entry;
        entry.paystatus = static_cast<int>(v[1]);
        entry.state = static_cast<TicketState>(v[2]);
        entry.kind = v[3] == 1 ? 1 : 0;
        entry.pickup = v[4];
        entry.prints = static_cast<int>(v[5] < 0 ? 0 : v[5] > 1000000 ? 1000000 : v[5]);
        entry.last_print = static_cast<std::time_t>(v[6]);
        journal.orders[static_cast<int>(v[0])] = entry;
    }
    if (first || !ended)
        return std::nullopt;
    return journal;
}

std::string journal_path(std::string_view host, int port, int storeidx)
{
    std::string server = std::string(host) + ":" + std::to_string(port);
    std::string name = "kitchen-" + std::to_string(storeidx) + "-" + os::sha256_hex(server).substr(0, 12) + ".journal";
    std::string dir = paths::user_dir();
    if (dir.empty())
        return {};
    if (dir.back() != '/')
        dir += '/';
    return dir + name;
}

std::optional<Journal> load_journal(std::string const& path)
{
    if (path.empty())
        return std::nullopt;
    auto text = os::read_file(path, max_journal_bytes);
    if (!text.ok())
        return std::nullopt;
    auto journal = parse_journal(text.value());
    if (!journal)
        return std::nullopt;
    if (auto marks = os::read_file(marks_path(path), max_journal_bytes); marks.ok())
        (void)apply_marks(*journal, marks.value());
    return journal;
}

std::string marks_path(std::string const& journal_path) { return journal_path + ".marks"; }

std::string owed_mark(int orderidx, int kind, long long pickup)
{
    char line[80];
    std::snprintf(line, sizeof line, "O %d %d %lld\n", orderidx, kind == 1 ? 1 : 0, pickup);
    return line;
}

std::string printed_mark(int orderidx, std::time_t when)
{
    char line[80];
    std::snprintf(line, sizeof line, "P %d %lld\n", orderidx, static_cast<long long>(when));
    return line;
}

bool apply_marks(Journal& journal, std::string_view text)
{
    if (text.size() > max_journal_bytes)
        return false;
    struct Mark {
        bool printed;
        std::vector<long long> values;
    };
    std::vector<Mark> marks;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            break; // the last write, cut short
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.size() < 3 || (line[0] != 'O' && line[0] != 'P') || line[1] != ' ')
            return false;
        auto values = numbers(line.substr(2));
        bool printed = line[0] == 'P';
        if (!values || values->size() != (printed ? 2u : 3u) || (*values)[0] <= 0 || (*values)[0] > INT32_MAX)
            return false;
        marks.push_back({ printed, std::move(*values) });
    }
    for (auto const& mark : marks) {
        int orderidx = static_cast<int>(mark.values[0]);
        if (mark.printed) {
            auto it = journal.orders.find(orderidx);
            if (it == journal.orders.end() || it->second.state != TicketState::Owed)
                continue;
            it->second.state = TicketState::Printed;
            it->second.prints = std::min(it->second.prints + 1, 1000000);
            it->second.last_print = static_cast<std::time_t>(mark.values[1]);
            continue;
        }
        if (!journal.orders.contains(orderidx) && journal.orders.size() >= max_journal_orders)
            continue;
        JournalEntry& entry = journal.orders[orderidx];
        // A ticket given up on stays given up; a printed one that is owed
        // again went out once more after its delivery failed.
        if (entry.state == TicketState::GivenUp)
            continue;
        if (entry.state == TicketState::Printed && entry.prints > 0)
            --entry.prints;
        entry.state = TicketState::Owed;
        entry.kind = mark.values[1] == 1 ? 1 : 0;
        entry.pickup = mark.values[2];
    }
    return true;
}

Status append_mark(std::string const& journal_path, std::string_view mark)
{
    if (journal_path.empty())
        return Error::from_detail("no kitchen journal");
    return os::append_file(marks_path(journal_path), mark);
}

Status remove_marks(std::string const& journal_path)
{
    if (journal_path.empty())
        return {};
    return os::remove_file(marks_path(journal_path));
}

Status save_journal(std::string const& path, Journal const& journal)
{
    if (path.empty())
        return Error::from_detail("no per-user folder for the kitchen journal");
    return os::write_file_atomic(path, journal_text(journal));
}

std::string print_log_text(JournalEntry const& entry)
{
    if (entry.prints <= 0)
        return {};
    std::string text = "주방 출력 " + std::to_string(entry.prints) + "회";
    if (entry.last_print > 0) {
        std::time_t when = entry.last_print;
        std::tm tm {};
        localtime_r(&when, &tm);
        char buffer[16];
        std::strftime(buffer, sizeof buffer, "%H:%M", &tm);
        text += ", 마지막 ";
        text += buffer;
    }
    return text;
}

} // namespace tillbay::printing
