#include "host/history_family.h"

namespace tillbay::alert {

HistoryFamily::HistoryFamily(Alert& alert, bridge::Family* next)
    : m_alert(alert)
    , m_next(next)
{
}

bridge::Handled HistoryFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    if (command.name() == "notify") {
        // notify</>kind</>label</>amount: the kind is the page's own and not
        // read here; a missing label or amount counts as empty or 0.
        m_alert.start(command.arg(2), field_integer(command.arg(3)));
        return bridge::Handled::Yes;
    }
    return m_next ? m_next->handle(command, page) : bridge::Handled::No;
}

} // namespace tillbay::alert
