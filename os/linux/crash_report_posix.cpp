// The crash report: a handler for the fatal signals (SIGSEGV, SIGBUS, SIGILL,
// SIGFPE, SIGABRT) that writes "crash.txt" in the per-user folder and then
// lets the process die of the same signal, exactly as it would have without
// the handler (core dump and exit status included).
//
// The handler runs when the process is already broken: the heap may be
// corrupt and any lock may be held. It therefore allocates nothing and calls
// only async-signal-safe functions (open, read, write, close, sigaction,
// raise, nanosleep). The report's path is formed at install time; the module
// table is read from /proc/self/maps at crash time into static buffers, so
// libraries loaded after start-up are named too. It runs on an alternate
// signal stack, which every thread the program starts gets (start_thread), so
// a stack overflow on any of them is reported too.
//
// The report:
//   code <signal, %08x> base <executable's load address> eip <instruction address>
//   stack live <KB> KB, q=<bridge queue>, in=<draining>
//   <module>+<offset>   for each stack word that points into executable code,
//                       at most 3,000 lines.

#include "os/process.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

namespace tillbay::os::process {

namespace {

constexpr int fatal_signals[] = { SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT };

// Words below this value are small numbers, never code addresses.
constexpr uintptr_t smallest_code_address = 65'536;
// A stack pointer in a guard page (stack overflow) is not readable; the scan
// then starts at the nearest readable mapping above it, within this distance.
constexpr uintptr_t guard_search_distance = 1 << 20;
// An alternate stack that is large enough for the handler's few frames.
constexpr size_t alternate_stack_size = 64 * 1024;

std::atomic<bool> g_installed { false };
char g_report_path[4096];
uintptr_t g_executable_base = 0;
uintptr_t g_installer_stack_low = 0;
uintptr_t g_installer_stack_high = 0;

std::atomic<unsigned (*)()> g_queue_probe { nullptr };
std::atomic<int (*)()> g_draining_probe { nullptr };
std::atomic<int> g_reporting { 0 };

// ---- output: one static buffer, flushed with write(2) ----

class ReportWriter {
public:
    bool open(char const* path)
    {
        // Private like the logs: the stack words may hold order data.
        m_fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        m_used = 0;
        m_failed = m_fd < 0;
        return !m_failed;
    }

    void put(char const* text, size_t length)
    {
        while (length > 0 && !m_failed) {
            if (m_used == sizeof m_buffer)
                flush();
            size_t n = length < sizeof m_buffer - m_used ? length : sizeof m_buffer - m_used;
            std::memcpy(m_buffer + m_used, text, n);
            m_used += n;
            text += n;
            length -= n;
        }
    }
    void put(char const* text) { put(text, std::strlen(text)); }

    void put_hex(uintptr_t value, int min_digits)
    {
        char digits[2 * sizeof value];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[value & 15];
            value >>= 4;
        } while (value != 0);
        while (n < min_digits && n < static_cast<int>(sizeof digits))
            digits[n++] = '0';
        char out[sizeof digits];
        for (int i = 0; i < n; ++i)
            out[i] = digits[n - 1 - i];
        put(out, static_cast<size_t>(n));
    }

    // As printf's %p writes it on this platform.
    void put_pointer(uintptr_t value)
    {
        if (value == 0) {
            put("(nil)");
            return;
        }
        put("0x");
        put_hex(value, 1);
    }

    void put_decimal(long long value)
    {
        char digits[24];
        int n = 0;
        bool negative = value < 0;
        unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value) : value;
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (negative)
            put("-", 1);
        char out[sizeof digits];
        for (int i = 0; i < n; ++i)
            out[i] = digits[n - 1 - i];
        put(out, static_cast<size_t>(n));
    }

    void end_line() { put("\r\n", 2); }

    void flush()
    {
        size_t done = 0;
        while (done < m_used && !m_failed) {
            ssize_t n = ::write(m_fd, m_buffer + done, m_used - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                m_failed = true;
            else
                done += static_cast<size_t>(n);
        }
        m_used = 0;
    }

    void close()
    {
        flush();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    bool m_failed = true;
    size_t m_used = 0;
    char m_buffer[8192];
};

ReportWriter g_writer;

// ---- the memory map, read at crash time ----

struct Module {
    uintptr_t start;
    uintptr_t end;
    uintptr_t base;
    char name[60];
    size_t name_length;
};

constexpr size_t max_modules = 4096;
Module g_modules[max_modules];
size_t g_module_count = 0;

struct StackRange {
    uintptr_t low = 0;
    uintptr_t high = 0;
};

struct MapScan {
    uintptr_t stack_pointer = 0;
    bool stack_found = false;
    StackRange stack;
    bool candidate_found = false;
    StackRange candidate;
    // The first mapping of the file being walked: its load address.
    char current_path[4096];
    size_t current_path_length = 0;
    uintptr_t current_base = 0;
};

MapScan g_scan;
char g_maps_chunk[16384];
char g_maps_line[8192];

bool parse_hex(char const*& p, char const* end, uintptr_t& value)
{
    char const* start = p;
    value = 0;
    while (p < end) {
        char c = *p;
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else
            break;
        value = value * 16 + digit;
        ++p;
    }
    return p != start;
}

void skip_field(char const*& p, char const* end)
{
    while (p < end && *p != ' ')
        ++p;
    while (p < end && *p == ' ')
        ++p;
}

// One line of /proc/self/maps: "start-end perms offset dev inode   path".
void scan_map_line(char const* line, size_t length)
{
    char const* p = line;
    char const* end = line + length;
    uintptr_t start, stop, offset;
    if (!parse_hex(p, end, start) || p >= end || *p != '-')
        return;
    ++p;
    if (!parse_hex(p, end, stop) || p + 5 > end || *p != ' ')
        return;
    ++p;
    bool readable = p[0] == 'r';
    bool executable = p[2] == 'x';
    skip_field(p, end);
    if (!parse_hex(p, end, offset))
        return;
    skip_field(p, end); // offset's trailing blank
    skip_field(p, end); // device
    skip_field(p, end); // inode
    char const* path = p;
    size_t path_length = static_cast<size_t>(end - p);
    constexpr char deleted[] = " (deleted)";
    constexpr size_t deleted_length = sizeof deleted - 1;
    if (path_length > deleted_length && std::memcmp(end - deleted_length, deleted, deleted_length) == 0)
        path_length -= deleted_length;

    auto& scan = g_scan;
    if (readable) {
        if (start <= scan.stack_pointer && scan.stack_pointer < stop) {
            scan.stack_found = true;
            scan.stack = { scan.stack_pointer, stop };
        } else if (start > scan.stack_pointer && start - scan.stack_pointer <= guard_search_distance
            && (!scan.candidate_found || start < scan.candidate.low)) {
            scan.candidate_found = true;
            scan.candidate = { start, stop };
        }
    }

    if (path_length == 0)
        return;
    bool same_file = path_length == scan.current_path_length && path_length <= sizeof scan.current_path
        && std::memcmp(path, scan.current_path, path_length) == 0;
    if (!same_file) {
        size_t kept = path_length < sizeof scan.current_path ? path_length : sizeof scan.current_path;
        std::memcpy(scan.current_path, path, kept);
        scan.current_path_length = kept;
        scan.current_base = start - offset;
    }
    if (executable && g_module_count < max_modules) {
        auto& module = g_modules[g_module_count++];
        module.start = start;
        module.end = stop;
        module.base = scan.current_base;
        module.name_length = crash_module_name(path, path_length, module.name);
    }
}

bool read_memory_map()
{
    int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t line_length = 0;
    while (true) {
        ssize_t n = ::read(fd, g_maps_chunk, sizeof g_maps_chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            char c = g_maps_chunk[i];
            if (c == '\n') {
                scan_map_line(g_maps_line, line_length);
                line_length = 0;
            } else if (line_length < sizeof g_maps_line) {
                g_maps_line[line_length++] = c;
            }
        }
    }
    if (line_length > 0)
        scan_map_line(g_maps_line, line_length);
    ::close(fd);
    return true;
}

Module const* find_module(uintptr_t address, Module const* last)
{
    if (last && last->start <= address && address < last->end)
        return last;
    // The maps are sorted by address, so the table is too.
    size_t low = 0;
    size_t high = g_module_count;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        if (address < g_modules[middle].start)
            high = middle;
        else if (address >= g_modules[middle].end)
            low = middle + 1;
        else
            return &g_modules[middle];
    }
    return nullptr;
}

// Reads the faulting thread's stack word by word. Stack memory holds the
// sanitizer's red zones, which are perfectly readable here.
__attribute__((no_sanitize("address"))) void write_stack_lines(uintptr_t low, uintptr_t high)
{
    Module const* last = nullptr;
    unsigned lines = 0;
    for (uintptr_t at = low & ~static_cast<uintptr_t>(sizeof(uintptr_t) - 1);
        at + sizeof(uintptr_t) <= high && lines < crash_max_stack_lines; at += sizeof(uintptr_t)) {
        uintptr_t word = *reinterpret_cast<uintptr_t const volatile*>(at);
        if (word < smallest_code_address)
            continue;
        auto const* module = find_module(word, last);
        if (!module)
            continue;
        last = module;
        g_writer.put(module->name, module->name_length);
        g_writer.put("+", 1);
        g_writer.put_hex(word - module->base, 6);
        g_writer.end_line();
        ++lines;
    }
}

void context_registers(void* context, uintptr_t& stack_pointer, uintptr_t& instruction)
{
    auto const* uc = static_cast<ucontext_t const*>(context);
#if defined(__x86_64__)
    stack_pointer = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
    instruction = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    stack_pointer = static_cast<uintptr_t>(uc->uc_mcontext.sp);
    instruction = static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    stack_pointer = reinterpret_cast<uintptr_t>(&uc);
    instruction = 0;
#endif
}

void write_report(int signal_number, void* context)
{
    if (g_report_path[0] == '\0' || !g_writer.open(g_report_path))
        return;

    uintptr_t stack_pointer = 0;
    uintptr_t instruction = 0;
    context_registers(context, stack_pointer, instruction);

    g_module_count = 0;
    g_scan.stack_pointer = stack_pointer;
    g_scan.stack_found = false;
    g_scan.candidate_found = false;
    g_scan.current_path_length = 0;
    bool have_map = read_memory_map();

    StackRange range;
    if (g_scan.stack_found)
        range = g_scan.stack;
    else if (g_scan.candidate_found)
        range = g_scan.candidate;
    bool on_installer_stack = g_installer_stack_low <= stack_pointer && stack_pointer < g_installer_stack_high;
    if (on_installer_stack && (!have_map || range.high > g_installer_stack_high)) {
        // The installing thread's bounds are exact, where a merged mapping
        // might reach further; without the map they are all there is.
        if (!have_map)
            range.low = stack_pointer;
        range.high = g_installer_stack_high;
    }
    uintptr_t stack_base = range.high;

    g_writer.put("code ");
    g_writer.put_hex(static_cast<unsigned>(signal_number), 8);
    g_writer.put(" base ");
    g_writer.put_pointer(g_executable_base);
    g_writer.put(" eip ");
    g_writer.put_pointer(instruction);
    g_writer.end_line();

    auto* queued = g_queue_probe.load();
    auto* draining = g_draining_probe.load();
    g_writer.put("stack live ");
    g_writer.put_decimal(stack_base > stack_pointer ? static_cast<long long>((stack_base - stack_pointer) / 1024) : 0);
    g_writer.put(" KB, q=");
    g_writer.put_decimal(queued ? queued() : 0);
    g_writer.put(", in=");
    g_writer.put_decimal(draining ? draining() : 0);
    g_writer.end_line();
    g_writer.flush();

    if (range.high > range.low)
        write_stack_lines(range.low, range.high);
    g_writer.close();
}

void on_fatal_signal(int signal_number, siginfo_t*, void* context)
{
    int saved_errno = errno;
    if (g_reporting.exchange(1) == 0) {
        write_report(signal_number, context);
    } else {
        // Another thread is writing the report and will end the process;
        // give it time rather than cutting its report short.
        timespec pause { 0, 100'000'000 };
        for (int i = 0; i < 50; ++i)
            ::nanosleep(&pause, nullptr);
    }
    // The signal stays blocked until the handler returns; then the default
    // action ends the process. A fault from an instruction would also come
    // back on its own when the instruction runs again, but a raised signal
    // (abort, kill) would not.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    ::sigaction(signal_number, &default_action, nullptr);
    ::raise(signal_number);
    errno = saved_errno;
}

// The calling thread's alternate signal stack, unmapped when the thread ends.
struct AlternateStack {
    void* memory = nullptr;
    size_t size = 0;
    ~AlternateStack()
    {
        if (!memory)
            return;
        stack_t off {};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        ::munmap(memory, size);
    }
};
thread_local AlternateStack t_alternate_stack;

} // namespace

void set_crash_probes(unsigned (*queued)(), int (*draining)())
{
    g_queue_probe.store(queued);
    g_draining_probe.store(draining);
}

void install_crash_report(std::string const& path)
{
    if (g_installed.exchange(true))
        return;

    // Without a path there is no report, but the handler still runs, and
    // ends the process exactly as the default action would.
    if (path.size() < sizeof g_report_path)
        std::memcpy(g_report_path, path.c_str(), path.size() + 1);

    Dl_info info {};
    if (::dladdr(reinterpret_cast<void*>(&install_crash_report), &info) != 0)
        g_executable_base = reinterpret_cast<uintptr_t>(info.dli_fbase);

    pthread_attr_t attributes;
    if (::pthread_getattr_np(::pthread_self(), &attributes) == 0) {
        void* address = nullptr;
        size_t size = 0;
        if (::pthread_attr_getstack(&attributes, &address, &size) == 0) {
            g_installer_stack_low = reinterpret_cast<uintptr_t>(address);
            g_installer_stack_high = g_installer_stack_low + size;
        }
        ::pthread_attr_destroy(&attributes);
    }

    prepare_thread();

    struct sigaction action {};
    action.sa_sigaction = on_fatal_signal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigfillset(&action.sa_mask);
    for (int signal_number : fatal_signals)
        ::sigaction(signal_number, &action, nullptr);
}

void prepare_thread()
{
    if (t_alternate_stack.memory)
        return;
    long minimum = ::sysconf(_SC_SIGSTKSZ);
    size_t size = alternate_stack_size + (minimum > 0 ? static_cast<size_t>(minimum) : 0);
    void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return;
    stack_t stack {};
    stack.ss_sp = memory;
    stack.ss_size = size;
    if (::sigaltstack(&stack, nullptr) != 0) {
        ::munmap(memory, size);
        return;
    }
    t_alternate_stack.memory = memory;
    t_alternate_stack.size = size;
}

std::thread start_thread(std::function<void()> body)
{
    return std::thread([body = std::move(body)] {
        prepare_thread();
        body();
    });
}

size_t crash_module_name(char const* path, size_t path_length, char* out)
{
    size_t start = 0;
    for (size_t i = 0; i < path_length; ++i) {
        if (path[i] == '/')
            start = i + 1;
    }
    size_t n = 0;
    for (size_t i = start; i < path_length && n < 60; ++i) {
        auto byte = static_cast<unsigned char>(path[i]);
        out[n++] = byte > 127 ? '?' : static_cast<char>(byte);
    }
    return n;
}

} // namespace tillbay::os::process
