#pragma once

// The process itself: where its executable lies, starting it again, the
// crash report, and the threads it starts.

#include <cstddef>
#include <functional>
#include <string>
#include <thread>

namespace tillbay::os::process {

// The absolute path of the running executable; "" when it cannot be read.
// After the program file was replaced, this names the file that was started.
std::string own_executable();

// Starts the executable with the arguments (argv[0] included, a null pointer
// last) and the same environment; 0 on success, else the error number.
int spawn(std::string const& path, char* const argv[]);

// The crash report: a handler for the fatal signals that writes the report
// to path (nothing is written when path is empty) and then lets the process
// die of the same signal, core dump and exit status included. Once per process.
void install_crash_report(std::string const& path);
// What the report tells about the bridge queue; both are read from the
// signal handler and must be async-signal-safe.
void set_crash_probes(unsigned (*queued)(), int (*draining)());

// Gives the calling thread an alternate signal stack of its own, so that a
// stack overflow on it still leaves a crash report. The main thread gets one
// with install_crash_report(); start_thread() gives one to every thread it starts.
void prepare_thread();
// A thread of the program: prepare_thread(), then body.
std::thread start_thread(std::function<void()> body);

// The report writes at most this many "module+offset" lines.
inline constexpr unsigned crash_max_stack_lines = 3'000;

// The module name as the crash report writes it: the part after the last '/',
// at most 60 bytes, bytes above 127 replaced by '?'. Writes no terminator and
// returns the number of bytes written (out must hold 60). Async-signal-safe.
size_t crash_module_name(char const* path, size_t path_length, char* out);

} // namespace tillbay::os::process
