#include "alert/history_family.h"

#include "foundation/user_files.h"
#include "session/session.h"

namespace tillbay::alert {

HistoryFamily::HistoryFamily(Alert& alert)
    : m_alert(alert)
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
    if (command.name() == "gethist") {
        page.callback("setHistory", userfiles::history_argument(session::storeidx()));
        return bridge::Handled::Yes;
    }
    if (command.name() == "savehist") {
        // The history is one text in which nothing is escaped, so a "</>" a
        // receipt memo may hold has split it into several fields: the text
        // is everything after the command name, joined back.
        auto saved = userfiles::save_history(session::storeidx(), command.args_text());
        if (!saved.ok())
            page.status("영수증 이력을 저장하지 못했습니다");
        return bridge::Handled::Yes;
    }
    return bridge::Handled::No;
}

} // namespace tillbay::alert
