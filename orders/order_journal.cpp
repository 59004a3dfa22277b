#include "orders/order_journal.h"

#include "foundation/log.h"
#include "os/crypto.h"
#include "os/filelock.h"
#include "os/fs.h"

#include <chrono>
#include <optional>
#include <thread>

namespace tillbay::orders {

namespace {

constexpr std::string_view name_prefix = "order-pending-";
constexpr std::string_view lock_suffix = ".lock";
constexpr std::string_view temp_suffix = ".tmp";

bool key_char(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
}

bool has_line_break(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// Takes the lock file, waiting while another process holds it. A lock
// that cannot be had for another reason (a folder that refuses the file)
// fails at once.
std::optional<os::FileLock> take_lock(std::string const& path)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(journal_lock_wait_ms);
    for (;;) {
        auto lock = os::FileLock::exclusive(path);
        if (lock.ok())
            return std::move(lock.value());
        if (lock.error().code != os::lock_busy || std::chrono::steady_clock::now() >= deadline) {
            log::bridge("ORDER", "주문 복구 기록의 잠금을 얻지 못했다: " + lock.error().detail);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace

bool valid_request_key(std::string_view key)
{
    if (key.size() < min_request_key || key.size() > max_request_key)
        return false;
    for (char c : key)
        if (!key_char(c))
            return false;
    return true;
}

std::string journal_file_name(std::string_view host, int storeidx)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(host.size() * 2);
    for (unsigned char c : host) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    std::string tail = "-" + std::to_string(storeidx) + ".dat";
    std::string name = std::string(name_prefix) + hex + tail;
    // Every file of the journal (".lock" and ".tmp" beside it) must fit.
    if (name.size() + lock_suffix.size() <= max_file_name)
        return name;
    return std::string(name_prefix) + "sha-" + os::sha256_hex(host).substr(0, 32) + tail;
}

JournalEntry parse_journal(std::string_view content)
{
    JournalEntry entry;
    if (content.empty())
        return entry;
    entry.state = JournalState::Unreadable;
    if (content.size() > max_journal_bytes)
        return entry;
    size_t first = content.find('\n');
    if (first == std::string_view::npos)
        return entry;
    size_t second = content.find('\n', first + 1);
    if (second == std::string_view::npos)
        return entry;
    std::string_view key = content.substr(0, first);
    std::string_view order = content.substr(first + 1, second - first - 1);
    std::string_view context = content.substr(second + 1);
    if (!valid_request_key(key) || order.empty() || context.empty())
        return entry;
    entry.state = JournalState::Pending;
    entry.key = key;
    entry.order_json = order;
    entry.context = context;
    return entry;
}

OrderJournal::OrderJournal(std::string folder, std::string_view host, int storeidx)
    : m_path(std::move(folder) + journal_file_name(host, storeidx))
{
}

JournalEntry OrderJournal::read_unlocked() const
{
    if (!os::file_exists(m_path))
        return {};
    long long size = os::file_size(m_path);
    if (size < 0 || static_cast<unsigned long long>(size) > max_journal_bytes)
        return { JournalState::Unreadable, {}, {}, {} };
    auto content = os::read_file(m_path, max_journal_bytes);
    if (!content.ok())
        return { JournalState::Unreadable, {}, {}, {} };
    return parse_journal(content.value());
}

Status OrderJournal::rewrite(std::string_view content) const
{
    auto written = os::write_file_atomic(m_path, content, temp_suffix);
    if (!written.ok())
        log::bridge("ORDER", "주문 복구 기록을 쓰지 못했다: " + written.error().detail);
    return written;
}

bool OrderJournal::begin(std::string_view key, std::string_view order_json, std::string_view context)
{
    auto lock = take_lock(m_path + std::string(lock_suffix));
    if (!lock)
        return false;
    JournalEntry entry = read_unlocked();
    switch (entry.state) {
    case JournalState::Unreadable:
        return false;
    case JournalState::Pending:
        // The same order sent again after a lost answer may go; any other
        // waits until the pending one is settled.
        return entry.key == key && entry.order_json == order_json;
    case JournalState::None:
        break;
    }
    if (!valid_request_key(key) || order_json.empty() || context.empty() || has_line_break(order_json)
        || has_line_break(context))
        return false;
    std::string content;
    content.reserve(key.size() + order_json.size() + context.size() + 2);
    content.append(key).append("\n").append(order_json).append("\n").append(context);
    if (content.size() > max_journal_bytes)
        return false;
    return rewrite(content).ok();
}

bool OrderJournal::forget(std::string_view key)
{
    auto lock = take_lock(m_path + std::string(lock_suffix));
    if (!lock)
        return false;
    JournalEntry entry = read_unlocked();
    bool may = false;
    switch (entry.state) {
    case JournalState::None:
        may = true;
        break;
    case JournalState::Pending:
        may = entry.key == key;
        break;
    case JournalState::Unreadable:
        may = key.empty();
        break;
    }
    if (!may)
        return false;
    if (entry.state == JournalState::None && !os::file_exists(m_path))
        return true;
    return rewrite("").ok();
}

JournalEntry OrderJournal::read()
{
    auto lock = take_lock(m_path + std::string(lock_suffix));
    if (!lock)
        return { JournalState::Unreadable, {}, {}, {} };
    return read_unlocked();
}

} // namespace tillbay::orders
