#pragma once

// Printer health: ESC/POS real-time status (DLE EOT) asked over the same
// connection a job goes through, where the transport can answer (network,
// serial, and USB printers that read back). A job to a printer that reports
// paper out or an open cover fails at once with a message that says so,
// instead of vanishing into a printer that cannot print it; the board shows
// each printer's state.

#include "os/printer_port.h"
#include "printing/printer_settings.h"

#include <string>
#include <string_view>

namespace tillbay::printing {

enum class HealthState {
    Unknown,      // the printer does not answer status requests
    Online,
    PaperNearEnd,
    PaperOut,
    CoverOpen,
    Offline,      // offline for another reason (an error, the feed button)
    Unreachable,  // the connection could not be made
    Busy,         // a job is being sent right now
    QueueReady,   // a print queue of the spooler, ready
    QueueStopped, // a print queue of the spooler, stopped
    NoPrinter,    // set to "none"
    NotSet,       // nothing usable configured
};

struct Health {
    HealthState state = HealthState::Unknown;
    // The page's word for the state ("online", "paper-out", …).
    char const* word() const;
    // What staff read ("정상", "용지 없음", …).
    char const* text() const;
    // Whether a job must not be sent.
    bool blocks_printing() const { return state == HealthState::PaperOut || state == HealthState::CoverOpen; }
};

// The three status answers (DLE EOT 1, 2 and 4, one byte each) read as one
// state; Unknown when the bytes are not status answers.
Health read_status(std::string_view answers);

// Asks the printer on an open connection; Unknown when it does not answer
// within timeout_ms (or cannot answer on this connection at all).
Health ask_status(os::printer_port::Port& port, int timeout_ms);

// The failure message for a state that blocks printing.
std::string blocked_message(Health health);

} // namespace tillbay::printing
