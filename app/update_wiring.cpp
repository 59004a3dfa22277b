#include "update_wiring.h"

#include "foundation/log.h"
#include "update/self_update.h"

namespace tillbay::app {

bridge::Handled UpdateRetryFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    if (command.name() != "updateretry")
        return bridge::Handled::No;
    if (m_hooks.clear_held_back) {
        // Another program holding the update lock only means the check that
        // follows reports that it is busy; the retry goes on.
        std::string error = m_hooks.clear_held_back();
        if (!error.empty()) {
            log::bridge("UPD", "보류한 화면 묶음을 풀지 못했다 — " + error);
            page.status(error);
        }
    }
    if (m_hooks.report_state)
        m_hooks.report_state("ui-fetch", update::text::retry_state);
    if (m_hooks.start_check)
        m_hooks.start_check();
    return bridge::Handled::Yes;
}

} // namespace tillbay::app
