#pragma once

// The values the tablet door shares across threads: the kitchen list cache
// (written by the order board), the customer state (written by the customer
// display) and the door log (written by every request). The door's
// connection thread reads them while the UI thread replaces them; one lock,
// the door lock, guards them, and it is held only to copy a value in or out.

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::door {

// The customer state before the customer display sends one, and after the
// sign-in page opens.
inline constexpr std::string_view idle_customer_state = "{\"s\":\"idle\"}";

// The door log keeps this many entries, oldest first.
inline constexpr size_t max_log_entries = 20;
// An entry's event text is cut to this many bytes (on a character boundary).
inline constexpr size_t max_log_what = 60;

struct LogEntry {
    std::string at;   // local time "%02d:%02d:%02d"
    std::string ip;   // the peer address
    std::string what; // the event, printable UTF-8 only
};

// The door lock. Nobody holds it across a network wait or a page call.
std::mutex& door_lock();

// Replaces the kitchen list cache whole (UI thread, after a list fetch).
void set_kitchen_list(std::string text);
// A copy of the kitchen list cache; empty until the first fetch.
std::string kitchen_list();

void set_customer_state(std::string text);
std::string customer_state();

// Whether an event text is cut to max_log_what bytes: texts made of what a
// peer sent are; the door's own fixed texts are kept whole.
enum class LogCut {
    ToLimit,
    Whole,
};

// Appends an entry stamped with the local time; the oldest go beyond
// max_log_entries. The peer and the event text may come from the LAN: both
// are made printable, and cut on a character boundary.
void append_log(std::string_view ip, std::string_view what, LogCut cut = LogCut::ToLimit);
std::vector<LogEntry> log_entries();
// Tests: empties the log and the two texts.
void reset_for_testing();

// The text made printable: valid UTF-8 characters stay, control characters
// and DEL become ".", bytes that do not form a character become "?"; then
// cut to at most max_bytes without splitting a character.
std::string printable_cut(std::string_view text, size_t max_bytes);

} // namespace tillbay::door
