#include "door/door_state.h"

#include <cstdio>
#include <ctime>
#include <deque>

namespace tillbay::door {

namespace {

// Never destroyed: the door's thread may still read the values while the
// process is ending, after static destructors have started to run.
struct DoorState {
    std::mutex lock;
    std::string kitchen_list;
    std::string customer_state { idle_customer_state };
    std::deque<LogEntry> log;
};

DoorState& state()
{
    static DoorState* s = new DoorState;
    return *s;
}

// Replaces one text under the lock; the old text is released after it, so a
// reader never waits for a free.
void replace(std::string& target, std::string text)
{
    {
        std::lock_guard guard(state().lock);
        target.swap(text);
    }
}

std::string copy(std::string const& source)
{
    std::lock_guard guard(state().lock);
    return source;
}

// The length of the UTF-8 character at text[i], or 0 when the bytes there
// do not form one (overlong forms, surrogates and values above U+10FFFF
// included).
size_t character_length(std::string_view text, size_t i)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = byte(i);
    if (c < 0x80)
        return 1;
    size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (length == 0 || c > 0xF4 || i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    }
    unsigned char second = byte(i + 1);
    if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second >= 0xA0) || (c == 0xF0 && second < 0x90)
        || (c == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

} // namespace

std::mutex& door_lock() { return state().lock; }

void set_kitchen_list(std::string text) { replace(state().kitchen_list, std::move(text)); }
std::string kitchen_list() { return copy(state().kitchen_list); }

void set_customer_state(std::string text) { replace(state().customer_state, std::move(text)); }
std::string customer_state() { return copy(state().customer_state); }

std::string printable_cut(std::string_view text, size_t max_bytes)
{
    std::string out;
    out.reserve(std::min(text.size(), max_bytes));
    size_t i = 0;
    while (i < text.size()) {
        size_t length = character_length(text, i);
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::string_view piece;
        if (length == 0) {
            piece = "?";
            length = 1;
        } else if (length == 1 && (c < 0x20 || c == 0x7F)) {
            piece = ".";
        } else {
            piece = text.substr(i, length);
        }
        if (out.size() + piece.size() > max_bytes)
            break;
        out += piece;
        i += length;
    }
    return out;
}

void append_log(std::string_view ip, std::string_view what, LogCut cut)
{
    LogEntry entry;
    std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char at[16];
    std::snprintf(at, sizeof at, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    entry.at = at;
    entry.ip = printable_cut(ip, 46);
    entry.what = printable_cut(what, cut == LogCut::ToLimit ? max_log_what : what.size());
    std::deque<LogEntry> dropped;
    {
        std::lock_guard guard(state().lock);
        auto& log = state().log;
        log.push_back(std::move(entry));
        while (log.size() > max_log_entries) {
            dropped.push_back(std::move(log.front()));
            log.pop_front();
        }
    }
}

std::vector<LogEntry> log_entries()
{
    std::lock_guard guard(state().lock);
    return { state().log.begin(), state().log.end() };
}

void reset_for_testing()
{
    std::lock_guard guard(state().lock);
    state().log.clear();
    state().kitchen_list.clear();
    state().customer_state = std::string(idle_customer_state);
}

} // namespace tillbay::door
