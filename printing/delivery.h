#pragma once

// Delivers a finished ESC/POS document to one printer, synchronously, with
// the deadlines every route keeps: 3 s to connect and 5 s to send over the
// network, 5 s of write time on a device, and up to 40 s more for a serial
// port to empty its output queue. The print queue's worker calls this; so
// does a caller that prints before the queue has a result listener.
//
// Only one delivery or status question talks to a printer at a time: a
// serial port or a LAN printer that takes one connection would otherwise
// refuse one of the two.

#include "base/result.h"
#include "printing/printer_health.h"
#include "printing/printer_settings.h"

#include <functional>
#include <string>
#include <string_view>

namespace tillbay::printing {

inline constexpr int connect_ms = 3000;
inline constexpr int send_ms = 5000;
inline constexpr int device_write_ms = 5000;
inline constexpr int serial_drain_ms = 40000;
inline constexpr int serial_drain_poll_ms = 15;
inline constexpr int serial_settle_ms = 80;
inline constexpr int status_wait_ms = 400;
// How long a network printer gets to close the connection after a document.
inline constexpr int close_wait_ms = 1000;

inline constexpr char const* partial_send_suffix = " — 일부 전송됨. 출력 여부 확인 후 재인쇄하세요";
inline constexpr char const* text_sent = "프린터로 인쇄 데이터를 전송했습니다";
inline constexpr char const* spooler_job_title = "Tilla Receipt";
inline constexpr size_t max_queue_name_characters = 256;

// Where a job goes: the connection address, or for an empty address the
// older routes (the print queue named in the record, else the first USB
// printer found).
struct Route {
    std::string connection;
    std::string name;
};

// The success text (with a note when the paper runs low), or the failure.
// The moment the printer has taken the last byte (a network printer has
// acknowledged it, a device has it, a serial port has emptied its queue),
// before the connection ends, the accepted notice of the calling thread runs.
Result<std::string> send_now(Route const& route, std::string_view bytes);

// The notice send_now gives on this thread, at most once per delivery; an
// empty one clears it.
void set_accepted_notice(std::function<void()> notice);

// A raw job into one print queue of the spooler; the system's default
// printer is never used.
Status raw_spooler_job(std::string_view queue_name, std::string_view bytes);

// Asks the printer of a record for its state, without waiting for a
// delivery that is running (that reads as Busy).
Health check_health(PrinterRecord const& record);

} // namespace tillbay::printing
