#pragma once

// The owner's back-office command families: `menu`, `store`, `product`,
// `sales`, `history` and the product and question commands of `pc`. One
// StoreFamily per bridge slot; each looks its commands up in the one
// command table (rows.h) and carries them out with the row runner, on the
// command lane, or runs its few local commands on the UI thread.

#include "bridge/family.h"
#include "store/command_rows.h"

#include <string_view>
#include <vector>

namespace tillbay::store {

class StoreFamily final : public bridge::Family {
public:
    StoreFamily(Slot slot, Context& context);
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;
    bridge::Runs runs(std::string_view name) const override;

private:
    Slot m_slot;
    Context& m_context;
};

// The names of every command of a slot, table rows and local commands, for
// tests and for the report of what a slot answers.
std::vector<std::string_view> command_names(Slot slot);

} // namespace tillbay::store
