#pragma once

// The diagnostic logs in the per-user folder: the bridge log ("bridge.log",
// scrubbed, capped per run, rotated at start), the transport log ("tls.log"),
// and the crash report ("crash.txt"). Logging never fails towards the caller
// and never blocks it on anything but one file append.

#include <exception>
#include <string>
#include <string_view>

namespace tillbay::log {

// One bridge log line: time, tag, the scrubbed message cut to 300 bytes.
void bridge(std::string_view tag, std::string_view message);

// Runs work and catches whatever it throws: the failure is logged under the
// tag "UI" as what + ": " + the reason, and false is returned. Every GLib
// callback and every thread entry runs its body through this, so that one
// failure never takes the program down and none goes unnoticed.
template<typename F>
bool guarded(std::string_view what, F&& work) noexcept
{
    try {
        work();
        return true;
    } catch (std::exception const& e) {
        bridge("UI", std::string(what) + ": " + e.what());
    } catch (...) {
        bridge("UI", std::string(what) + ": 알 수 없는 예외");
    }
    return false;
}

// One transport log line, printf-style, cut to 599 bytes.
void transport(char const* format, ...) __attribute__((format(printf, 1, 2)));

// The scrubbing rules applied to every bridge log message.
std::string scrub(std::string_view message);

// Installs the fatal-signal handler that writes "crash.txt" and then lets the
// process die the way it would have without it.
void install_crash_report();

// What the crash report tells about the bridge queue: set by the bridge. Both
// functions run inside the fatal-signal handler, so they must be
// async-signal-safe (read an atomic, nothing more). Null unsets a probe.
void set_crash_queue_probe(unsigned (*queued)(), int (*draining)());

// Tests only: forgets this run's counters and first-line flags, so that the
// next line behaves like the first line of a new run.
void reset_for_testing();

} // namespace tillbay::log
