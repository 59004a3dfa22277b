#pragma once

// The kitchen's print journal: which orders of one store (on one server)
// got which kitchen ticket. It survives a restart, a crash and an update,
// so an order that arrived while the POS was down still gets its ticket,
// and nothing already printed prints again. Keyed by order number, never by
// calendar day: an order still on the list after midnight is not new again.
//
// One small text file per server and store in the per-user folder, replaced
// whole through a temporary file (flushed, then renamed), so a crash leaves
// either the old or the new journal, never a mix. Orders that leave the list
// leave the journal. It is also the reprint log the board shows.
//
// Between two replacements, the moments of a ticket are marks appended to a
// file beside it ("<journal>.marks"): "owed" when an automatic ticket goes to
// the print queue, "printed" the moment the printer has taken its last byte.
// A mark is one small write and no flush: what a killed program handed to
// the kernel stays, and what a power cut takes errs towards printing a
// ticket again, never towards losing one. Loading applies the marks in order;
// a replacement that holds them all removes the file.

#include "base/result.h"

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::printing {

// A journal holds at most this many orders; a larger file is refused whole.
inline constexpr size_t max_journal_orders = 5000;
inline constexpr size_t max_journal_bytes = 512 * 1024;
inline constexpr char const* journal_magic = "TBKJ1";

enum class TicketState {
    Seen = 0,    // on a list; no automatic ticket owed yet
    Owed = 1,    // an automatic ticket was handed to the printer and is not confirmed
    Printed = 2, // the printer confirmed it
    GivenUp = 3, // three attempts failed; the staff were told to print it by hand
};

struct JournalEntry {
    int paystatus = 1;   // as of the last list
    TicketState state = TicketState::Seen;
    int kind = 0;        // the automatic ticket's kind (order or additional)
    long long pickup = 0;
    int prints = 0;      // tickets handed to the printer, automatic and manual
    std::time_t last_print = 0;

    bool operator==(JournalEntry const&) const = default;
};

struct Journal {
    std::map<int, JournalEntry> orders;
};

// The file's text and back; a text that is not a journal reads as nothing.
std::string journal_text(Journal const& journal);
std::optional<Journal> parse_journal(std::string_view text);

// The file of one server and store in the per-user folder; empty without one.
std::string journal_path(std::string_view host, int port, int storeidx);

// Nothing when the file does not exist or is not a journal (then the store
// starts as on a new PC). The marks beside it are applied.
std::optional<Journal> load_journal(std::string const& path);
Status save_journal(std::string const& path, Journal const& journal);

// The marks file beside a journal.
std::string marks_path(std::string const& journal_path);
// One mark each, a whole line.
std::string owed_mark(int orderidx, int kind, long long pickup);
std::string printed_mark(int orderidx, std::time_t when);
// Applies the marks text in order. A last line cut short (a kill in the
// middle of a write) is left out; a text with any other line that is not a
// mark, or a larger one than a journal, is refused whole (false, nothing
// applied): without its marks a ticket prints again rather than not at all.
bool apply_marks(Journal& journal, std::string_view text);
// Appends one mark; no flush.
Status append_mark(std::string const& journal_path, std::string_view mark);
Status remove_marks(std::string const& journal_path);

// "주방 출력 2회, 마지막 12:41"; empty when the order was never printed.
std::string print_log_text(JournalEntry const& entry);

} // namespace tillbay::printing
