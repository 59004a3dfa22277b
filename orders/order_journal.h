#pragma once

// The order recovery journal: one small file per server and store in the
// per-user folder that remembers the one order whose outcome is not known
// yet. An order is written down before it is sent and forgotten only when
// the page knows what became of it, so an answer lost on the way never
// leads to the same order being placed twice, and a POS restarted after a
// crash still knows what it was sending.
//
// Contents: the request key, a line feed, the order JSON, a line feed, the
// page's context text. An empty file or no file means nothing is pending.
// Every POS process of the user on this PC shares the file; they serialise
// on the lock file beside it (name + ".lock"), held only while the journal
// is read or rewritten. Rewrites go through name + ".tmp" and a rename.

#include "base/result.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace tillbay::orders {

// A request key: 16 to 60 digits, ASCII letters or '-'.
inline constexpr size_t min_request_key = 16;
inline constexpr size_t max_request_key = 60;
bool valid_request_key(std::string_view key);

// A journal larger than this is unreadable.
inline constexpr size_t max_journal_bytes = 1024 * 1024;
// The longest file name a Linux file system takes.
inline constexpr size_t max_file_name = 255;
// How long a journal operation waits for another process to let go of the lock.
inline constexpr int journal_lock_wait_ms = 5000;

// "order-pending-" + the host's bytes in lower-case hexadecimal + "-" +
// storeidx + ".dat". A host so long that the lock file's name would pass
// the file-name limit is named by a digest instead: "order-pending-sha-" +
// the first 32 hexadecimal digits of its SHA-256 (a hexadecimal form never
// holds an 's', so the two kinds of name cannot meet).
std::string journal_file_name(std::string_view host, int storeidx);

enum class JournalState {
    None,
    Pending,
    Unreadable,
};

struct JournalEntry {
    JournalState state = JournalState::None;
    std::string key;
    std::string order_json;
    std::string context;
};

// Reads a journal's content (exposed for tests): the three parts, or
// Unreadable when it is too large, its key is not valid or a part is
// empty or missing.
JournalEntry parse_journal(std::string_view content);

class OrderJournal {
public:
    // folder: the per-user folder with its trailing '/'.
    OrderJournal(std::string folder, std::string_view host, int storeidx);

    std::string const& path() const { return m_path; }

    // Writes the order down before it is sent. True when it may be sent:
    // nothing was pending and the entry is now on disk, or the same key is
    // pending with the same JSON (a resend). False when another order is
    // pending, the journal is unreadable, the texts hold a line break, or
    // the lock or the write failed.
    bool begin(std::string_view key, std::string_view order_json, std::string_view context);

    // Empties the journal when the key is the pending one, when nothing is
    // pending, or when the journal is unreadable and the key is empty (staff
    // give up whatever it held). False otherwise or when the write failed.
    bool forget(std::string_view key);

    // The journal as it is now, read under the lock; Unreadable also when
    // the lock could not be had.
    JournalEntry read();

private:
    JournalEntry read_unlocked() const;
    Status rewrite(std::string_view content) const;

    std::string m_path;
};

} // namespace tillbay::orders
