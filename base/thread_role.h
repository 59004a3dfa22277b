#pragma once

// Which thread is the UI thread. Work that waits on the network, a printer or
// a large file must never run there: the screen would freeze for as long as
// the wait lasts. The places that wait call expect_off_ui_thread(); a call
// on the UI thread is a programming fault. In strict mode (tests, and the
// program under its test port) it aborts at once so that the fault cannot
// go unnoticed; otherwise the report hook logs it and the work goes on.

#include <string_view>

namespace tillbay::thread_role {

// Called once by the UI thread, before any worker starts.
void mark_ui_thread();
bool on_ui_thread();
// Tests: no thread is the UI thread any more.
void forget_ui_thread_for_testing();

void set_strict(bool strict);
// Where a fault is reported outside strict mode (the bridge log).
void set_report(void (*report)(std::string_view what));

// `what` names the wait ("서버 연결", "프린터 전송").
void expect_off_ui_thread(std::string_view what);

} // namespace tillbay::thread_role
