// The bridge log and the transport log. Each line opens its file, appends in
// one write and closes it again: nothing is buffered, so the last line before
// a crash is on disk, and lines from different threads never mix inside a
// line. The first line of a run also rescrubs old logs and rotates the file;
// that start-up work runs under a lock so that no other thread appends to a
// file while it is being rewritten or moved.

#include "foundation/log.h"
#include "foundation/log_internal.h"
#include "foundation/paths.h"
#include "os/fs.h"
#include "os/process.h"
#include "tillbay_version.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace tillbay::log {

namespace {

// Per-run state. The counters are only roughly exact when several threads log
// at once: a few lines more than the cap may get through, which is harmless.
std::atomic<uint64_t> g_bridge_bytes { 0 };
std::atomic<bool> g_bridge_capped { false };
std::atomic<bool> g_bridge_started { false };
std::mutex g_bridge_start_lock;

std::atomic<uint64_t> g_transport_bytes { 0 };
std::atomic<bool> g_transport_started { false };
std::mutex g_transport_start_lock;

constexpr std::string_view cap_text = "로그 상한(512KB) 도달 — 이번에 켠 동안의 나머지는 남기지 않는다";

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};

LocalTime local_now()
{
    timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm t {};
    ::localtime_r(&ts.tv_sec, &t);
    return { t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
        static_cast<int>(ts.tv_nsec / 1'000'000) };
}

std::string time_prefix(LocalTime const& t)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d ", t.hour, t.minute, t.second, t.millisecond);
    return buffer;
}

// A CR or LF inside a message would start a forged line of its own (and the
// rescrub, which works line by line, would then read it without its prefix).
// Blanks keep the length, so the cuts stay where they were.
void flatten_line_breaks(std::string& line, size_t from)
{
    for (size_t i = from; i < line.size(); ++i) {
        if (line[i] == '\r' || line[i] == '\n')
            line[i] = ' ';
    }
}

// Appends the line in one write. False only when the file could not be opened:
// a short write (disk full) still counts, as the line took its share.
bool append_line(std::string const& path, std::string_view line)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, os::private_file_mode);
    if (fd < 0)
        return false;
    ssize_t n;
    do {
        n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    return true;
}

void write_bridge_line(std::string const& dir, std::string_view tag, std::string_view scrubbed)
{
    if (g_bridge_capped.load(std::memory_order_relaxed))
        return;
    std::string line = time_prefix(local_now());
    line.append(tag);
    line.push_back(' ');
    if (g_bridge_bytes.load(std::memory_order_relaxed) > detail::bridge_run_cap) {
        // Only the thread that sets the flag writes the cap line.
        if (g_bridge_capped.exchange(true))
            return;
        line.append(cap_text);
    } else {
        line.append(scrubbed.substr(0, detail::bridge_message_limit));
    }
    flatten_line_breaks(line, 0);
    line.append("\r\n");
    if (append_line(dir + "bridge.log", line))
        g_bridge_bytes.fetch_add(line.size(), std::memory_order_relaxed);
}

struct RescrubRun {
    bool ran = false;
    bool ok = false;
    int bridge_lines = 0;
    int previous_lines = 0;
};

// Logs written under older rules may hold what today's rules hide; they are
// scrubbed once more whenever the rules change. A failure leaves the version
// file alone, so the whole rescrub runs again at the next start.
RescrubRun rescrub_old_logs(std::string const& dir)
{
    RescrubRun run;
    auto version_path = dir + "logscrub.ver";
    auto version = os::read_prefix(version_path, 15);
    if (version.ok() && version.value() == detail::scrub_rules_version)
        return run;

    run.ran = true;
    auto current = detail::rescrub_file(dir + "bridge.log");
    run.bridge_lines = current.changed_lines;
    run.ok = current.ok;
    if (run.ok) {
        auto previous = detail::rescrub_file(dir + "bridge.prev.log");
        run.previous_lines = previous.changed_lines;
        run.ok = previous.ok;
    }
    if (run.ok)
        run.ok = os::write_file_atomic(version_path, detail::scrub_rules_version).ok();
    return run;
}

void start_bridge_run(std::string const& dir)
{
    std::lock_guard lock(g_bridge_start_lock);
    if (g_bridge_started.load(std::memory_order_acquire))
        return;

    auto rescrub = rescrub_old_logs(dir);

    // Rotation happens only here, at the start of a run, so one run's lines
    // always stay together in one file.
    auto path = dir + "bridge.log";
    if (os::file_size(path) > detail::bridge_rotate_size)
        (void)os::rename_file(path, dir + "bridge.prev.log");

    auto t = local_now();
    char header[96];
    std::snprintf(header, sizeof header, "==== %04d-%02d-%02d %02d:%02d 켬  v%s ====", t.year, t.month, t.day,
        t.hour, t.minute, TILLBAY_VERSION);
    write_bridge_line(dir, "----", header);

    if (rescrub.ran) {
        char note[256];
        std::snprintf(note, sizeof note, "LOGSCRUB 옛 기록 다시 가림 v%s: %s · bridge.log %d줄 · bridge.prev.log %d줄",
            std::string(detail::scrub_rules_version).c_str(), rescrub.ok ? "끝" : "실패(다음 켬에 다시)",
            rescrub.bridge_lines, rescrub.previous_lines);
        write_bridge_line(dir, "LOG", note);
    }
    g_bridge_started.store(true, std::memory_order_release);
}

void write_transport_line(std::string const& dir, std::string_view message)
{
    std::string line = time_prefix(local_now());
    size_t body = line.size();
    line.append(message);
    flatten_line_breaks(line, body);
    line.append("\r\n");
    if (append_line(dir + "tls.log", line))
        g_transport_bytes.fetch_add(message.size() + 16, std::memory_order_relaxed);
}

void start_transport_run(std::string const& dir)
{
    std::lock_guard lock(g_transport_start_lock);
    if (g_transport_started.load(std::memory_order_acquire))
        return;
    auto path = dir + "tls.log";
    if (os::file_size(path) > detail::transport_rotate_size)
        (void)os::rename_file(path, dir + "tls.prev.log");
    auto t = local_now();
    char header[64];
    std::snprintf(header, sizeof header, "==== %04d-%02d-%02d %02d:%02d 켬 ====", t.year, t.month, t.day, t.hour,
        t.minute);
    write_transport_line(dir, header);
    g_transport_started.store(true, std::memory_order_release);
}

} // namespace

void bridge(std::string_view tag, std::string_view message)
{
    try {
        auto scrubbed = scrub(message);
        auto dir = paths::user_dir();
        if (dir.empty())
            return;
        if (!g_bridge_started.load(std::memory_order_acquire))
            start_bridge_run(dir);
        write_bridge_line(dir, tag, scrubbed);
    } catch (...) {
        // A line that cannot be written (out of memory included) is lost; the
        // caller never learns of it.
    }
}

void transport(char const* format, ...)
{
    if (g_transport_bytes.load(std::memory_order_relaxed) > detail::transport_run_cap)
        return;
    try {
        auto dir = paths::user_dir();
        if (dir.empty())
            return;
        char message[detail::transport_message_limit + 1];
        va_list arguments;
        va_start(arguments, format);
        int n = std::vsnprintf(message, sizeof message, format, arguments);
        va_end(arguments);
        if (n < 0)
            return;
        size_t length = std::min(static_cast<size_t>(n), detail::transport_message_limit);
        if (!g_transport_started.load(std::memory_order_acquire))
            start_transport_run(dir);
        write_transport_line(dir, std::string_view(message, length));
    } catch (...) {
    }
}

void install_crash_report()
{
    // Without a per-user folder there is no report, but the handler still
    // runs and ends the process as the default action would.
    auto dir = paths::user_dir();
    os::process::install_crash_report(dir.empty() ? std::string {} : dir + "crash.txt");
}

void set_crash_queue_probe(unsigned (*queued)(), int (*draining)()) { os::process::set_crash_probes(queued, draining); }

void reset_for_testing()
{
    std::scoped_lock lock(g_bridge_start_lock, g_transport_start_lock);
    g_bridge_bytes = 0;
    g_bridge_capped = false;
    g_bridge_started = false;
    g_transport_bytes = 0;
    g_transport_started = false;
}

namespace detail {

RescrubbedFile rescrub_file(std::string const& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return { errno == ENOENT, 0 };
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<unsigned long long>(st.st_size) > rescrub_max_file) {
        ::close(fd);
        return {};
    }
    std::string content(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::read(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (done != content.size())
        return {};

    auto rescrubbed = rescrub_text(content);
    if (rescrubbed.changed_lines == 0)
        return { true, 0 };
    // The new content goes to "<name>.scrub" first and replaces the log only
    // when written completely; on failure the temporary file is removed.
    if (!os::write_file_atomic(path, rescrubbed.content, ".scrub").ok())
        return {};
    return { true, rescrubbed.changed_lines };
}

} // namespace detail

} // namespace tillbay::log
