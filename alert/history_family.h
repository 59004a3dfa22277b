#pragma once

// The `history` command family. It carries `notify`, with which the order
// board reports a new order to the alert, and the signed-in store's receipt
// history kept on this PC: `gethist` answers setHistory with the stored text,
// `savehist` replaces it.

#include "alert/alert.h"
#include "bridge/family.h"

namespace tillbay::alert {

class HistoryFamily final : public bridge::Family {
public:
    explicit HistoryFamily(Alert& alert);
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;

private:
    Alert& m_alert;
};

} // namespace tillbay::alert
