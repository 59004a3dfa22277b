#pragma once

// The print queue: the one way anything reaches a printer. Receipts,
// kitchen tickets, test pages and the drawer pulse all go through print():
// it checks the document, writes it to the dump file when TILLBAY_PRINT_DUMP
// names one, and otherwise queues it for the one worker thread, which
// delivers the jobs one at a time in the order they came and reports each
// outcome to the result listener. The worker exists only while jobs wait;
// the first job after a quiet spell starts it.
//
// Without a result listener (before start-up registers one) nothing is
// queued: print() delivers in the caller's thread.

#include "base/result.h"
#include "printing/delivery.h"
#include "printing/printer_settings.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>

namespace tillbay::printing {

inline constexpr size_t max_job_bytes = 32768;
inline constexpr size_t max_queued_jobs = 16;
inline constexpr size_t max_dump_path = 259;

inline constexpr char const* text_nothing_to_send = "보낼 내용이 없습니다";
inline constexpr char const* text_printer_none = "프린터 없음으로 설정되어 있습니다 (설정 → 프린터 연결)";
inline constexpr char const* text_bad_connection = "프린터 연결 설정이 올바르지 않습니다";
inline constexpr char const* text_queue_full = "인쇄 대기열이 가득 찼습니다. 장치 연결을 확인하세요";
inline constexpr char const* text_worker_failed = "인쇄 작업을 시작하지 못했습니다";
inline constexpr char const* text_drawer_off = "현금서랍이 꺼져 있습니다";

// (ok, message, job tag): runs on the worker thread and must only hand the
// outcome on (the program queues an internal bridge command).
using ResultListener = std::function<void(bool ok, std::string const& message, long long tag)>;
// (job tag): the printer has taken the job's last byte; runs on the worker
// thread, before the outcome, and at the latest with a successful one.
using AcceptedListener = std::function<void(long long tag)>;
// Delivers one job; the success text or the failure.
using Sender = std::function<Result<std::string>(Route const& route, std::string_view bytes)>;

class PrintQueue {
public:
    explicit PrintQueue(Sender sender = send_now);
    ~PrintQueue();

    PrintQueue(PrintQueue const&) = delete;
    PrintQueue& operator=(PrintQueue const&) = delete;

    void set_listener(ResultListener listener);
    // Only for jobs with a tag above zero.
    void set_accepted_listener(AcceptedListener listener);

    // Queued (or, without a listener, sent), or the reason it was not.
    Status print(PrinterRecord const& record, std::string_view bytes, long long tag);
    // ESC p with the record's pin: 25 on, 250 off, in the printer's 2 ms units.
    Status open_drawer(PrinterRecord const& record);

    // Jobs waiting or being sent.
    unsigned pending() const;

    // The end of the program: waiting jobs are dropped, the listener goes,
    // and the job being sent is waited for at most wait_ms.
    void shut_down(int wait_ms);

private:
    struct Job {
        Route route;
        std::string bytes;
        long long tag = 0;
    };

    void work();
    void report(bool ok, std::string const& message, long long tag);

    Sender m_sender;
    mutable std::shared_mutex m_lock;
    std::deque<Job> m_jobs;
    unsigned m_count = 0;
    bool m_running = false;
    std::thread m_worker;
    std::condition_variable_any m_idle;

    std::mutex m_listener_lock;
    ResultListener m_listener;
    AcceptedListener m_accepted;
};

// The ESC p bytes of the drawer pulse for a pin (2 or 5).
std::string drawer_pulse(int pin);

// The program's print queue, delivering through send_now.
PrintQueue& print_queue();

// The entry points every document goes through.
Status print(PrinterRecord const& record, std::string_view bytes, long long tag);
Status open_drawer(PrinterRecord const& record);
unsigned pending_jobs();

} // namespace tillbay::printing
