#pragma once

// The `history` command family. It carries `notify`, with which the order
// board reports a new order to the alert, and the signed-in store's receipt
// history kept on this PC: `gethist` answers setHistory with the stored text,
// `savehist` replaces it. The table moves join it later. A command it does
// not know goes on to the next family given, so that those commands can live
// in their own object.

#include "host/alert.h"
#include "host/family.h"

namespace tillbay::alert {

class HistoryFamily final : public bridge::Family {
public:
    explicit HistoryFamily(Alert& alert, bridge::Family* next = nullptr);
    void set_next(bridge::Family* next) { m_next = next; }
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;

private:
    Alert& m_alert;
    bridge::Family* m_next = nullptr;
};

} // namespace tillbay::alert
