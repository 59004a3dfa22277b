#include "printing/print_queue.h"

#include "foundation/log.h"
#include "os/fs.h"
#include "printing/connection_address.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace tillbay::printing {

namespace {

Error refused(std::string message)
{
    log::bridge("PRT", message);
    return Error::with_message(std::move(message));
}

// The dump file named by TILLBAY_PRINT_DUMP, when it names one.
std::optional<std::string> dump_path()
{
    char const* value = std::getenv("TILLBAY_PRINT_DUMP");
    if (!value || !*value || std::strlen(value) > max_dump_path)
        return std::nullopt;
    return std::string(value);
}

} // namespace

std::string drawer_pulse(int pin)
{
    char bytes[5] = { 0x1b, 'p', static_cast<char>(pin == 5 ? 1 : 0), 0x19, static_cast<char>(0xFA) };
    return std::string(bytes, sizeof bytes);
}

PrintQueue::PrintQueue(Sender sender)
    : m_sender(std::move(sender))
{
}

PrintQueue::~PrintQueue() { shut_down(60000); }

void PrintQueue::set_listener(ResultListener listener)
{
    std::lock_guard lock(m_listener_lock);
    m_listener = std::move(listener);
}

void PrintQueue::set_accepted_listener(AcceptedListener listener)
{
    std::lock_guard lock(m_listener_lock);
    m_accepted = std::move(listener);
}

Status PrintQueue::print(PrinterRecord const& record, std::string_view bytes, long long tag)
{
    if (bytes.empty())
        return refused(text_nothing_to_send);
    if (bytes.size() > max_job_bytes) {
        char message[128];
        std::snprintf(message, sizeof message, "인쇄할 내용이 너무 깁니다 (%zu/%zu 바이트)", bytes.size(), max_job_bytes);
        return refused(message);
    }
    if (printer_is_none(record))
        return refused(text_printer_none);
    if (auto path = dump_path()) {
        if (os::append_file(*path, bytes).ok())
            return {};
    }
    Route route { record.connection, record.name };
    if (!record.connection.empty() && !parse_address(record.connection))
        return refused(text_bad_connection);

    bool has_listener;
    {
        std::lock_guard lock(m_listener_lock);
        has_listener = static_cast<bool>(m_listener);
    }
    if (!has_listener) {
        auto sent = m_sender(route, bytes);
        if (!sent.ok())
            return sent.release_error();
        return {};
    }

    std::unique_lock lock(m_lock);
    if (m_count >= max_queued_jobs)
        return refused(text_queue_full);
    m_jobs.push_back(Job { std::move(route), std::string(bytes), tag });
    ++m_count;
    if (!m_running) {
        // A worker that has ended has let go of the lock for good, so it is
        // joined here before the next one starts.
        if (m_worker.joinable())
            m_worker.join();
        try {
            m_worker = std::thread([this] { work(); });
            m_running = true;
        } catch (std::exception const& e) {
            m_jobs.clear();
            m_count = 0;
            log::bridge("PRT", std::string("인쇄 작업 스레드 실패: ") + e.what());
            return Error::with_message(text_worker_failed);
        }
    }
    return {};
}

Status PrintQueue::open_drawer(PrinterRecord const& record)
{
    if (record.drawer_enable == 0)
        return Error::with_message(text_drawer_off);
    return print(record, drawer_pulse(record.drawer_pin), 0);
}

unsigned PrintQueue::pending() const
{
    std::shared_lock lock(m_lock);
    return m_count;
}

void PrintQueue::report(bool ok, std::string const& message, long long tag)
{
    std::lock_guard lock(m_listener_lock);
    if (m_listener)
        m_listener(ok, message, tag);
}

void PrintQueue::work()
{
    std::unique_lock lock(m_lock);
    while (!m_jobs.empty()) {
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        bool const finished = log::guarded("인쇄 작업 실패", [&] {
            // The moment the printer has the last byte is told at once, on
            // this thread: the less time between the two, the smaller the
            // chance that a crash in between prints the job again.
            bool told = false;
            auto tell = [&] {
                if (told || job.tag <= 0)
                    return;
                told = true;
                std::lock_guard listener(m_listener_lock);
                if (m_accepted)
                    m_accepted(job.tag);
            };
            set_accepted_notice(tell);
            auto sent = m_sender(job.route, job.bytes);
            set_accepted_notice(nullptr);
            if (sent.ok())
                tell();
            report(sent.ok(), sent.ok() ? sent.value() : sent.error().message, job.tag);
        });
        set_accepted_notice(nullptr);
        if (!finished)
            report(false, text_worker_failed, job.tag);
        lock.lock();
        --m_count;
    }
    m_running = false;
    m_idle.notify_all();
}

void PrintQueue::shut_down(int wait_ms)
{
    {
        std::lock_guard lock(m_listener_lock);
        m_listener = nullptr;
        m_accepted = nullptr;
    }
    std::unique_lock lock(m_lock);
    m_count -= static_cast<unsigned>(m_jobs.size());
    m_jobs.clear();
    m_idle.wait_for(lock, std::chrono::milliseconds(wait_ms), [this] { return !m_running; });
    bool finished = !m_running;
    lock.unlock();
    if (!m_worker.joinable())
        return;
    // A delivery still running past the wait ends on its own deadlines;
    // the queue of the program outlives it, so it is let go.
    if (finished)
        m_worker.join();
    else
        m_worker.detach();
}

PrintQueue& print_queue()
{
    // Never destroyed: a delivery let go at the end of the program may
    // still be finishing with it.
    static PrintQueue* queue = new PrintQueue();
    return *queue;
}

Status print(PrinterRecord const& record, std::string_view bytes, long long tag)
{
    return print_queue().print(record, bytes, tag);
}

Status open_drawer(PrinterRecord const& record) { return print_queue().open_drawer(record); }

unsigned pending_jobs() { return print_queue().pending(); }

} // namespace tillbay::printing
