#pragma once

// The back-office commands that stay on the UI thread: navigations, the
// print dialog, addresses opened on the desktop, values asked of the page,
// the owner's sign-in state and the page adaptation log.

#include "bridge/family.h"
#include "store/command_rows.h"

#include <span>
#include <string_view>

namespace tillbay::store {

struct LocalCommand {
    std::string_view name;
    Slot slot;
    void (*run)(bridge::Command const& command, bridge::Page& page, Context& context);
};

LocalCommand const* find_local_command(Slot slot, std::string_view name);
std::span<LocalCommand const> local_commands();

} // namespace tillbay::store
