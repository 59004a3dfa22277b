#include "base/thread_role.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace tillbay::thread_role {

namespace {

std::atomic<bool> g_marked { false };
std::thread::id g_ui_thread;
std::atomic<bool> g_strict { false };
std::atomic<void (*)(std::string_view)> g_report { nullptr };

} // namespace

void mark_ui_thread()
{
    g_ui_thread = std::this_thread::get_id();
    g_marked.store(true, std::memory_order_release);
}

void forget_ui_thread_for_testing() { g_marked.store(false, std::memory_order_release); }

bool on_ui_thread() { return g_marked.load(std::memory_order_acquire) && std::this_thread::get_id() == g_ui_thread; }

void set_strict(bool strict) { g_strict.store(strict); }

void set_report(void (*report)(std::string_view what)) { g_report.store(report); }

void expect_off_ui_thread(std::string_view what)
{
    if (!on_ui_thread())
        return;
    if (g_strict.load()) {
        std::fprintf(stderr, "tillbay: blocking work on the UI thread: %.*s\n", static_cast<int>(what.size()), what.data());
        std::abort();
    }
    if (auto report = g_report.load())
        report(what);
}

} // namespace tillbay::thread_role
