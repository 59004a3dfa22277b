#pragma once

// `updateretry`, the retry button of the update-failure notice: the release
// held back after a roll-back is cleared under the update lock, the page is
// told that the update is fetched again, and the update check runs once
// more. A UI release it installs becomes current in ".active" at once and is
// used from the next start.

#include "bridge/family.h"

#include <functional>
#include <string>

namespace tillbay::app {

struct UpdateRetryHooks {
    // Clears the held-back release; the user's text on failure, else empty.
    std::function<std::string()> clear_held_back;
    // Reports an update state the way the update thread does.
    std::function<void(std::string const& state, std::string const& message)> report_state;
    // Starts the update thread.
    std::function<void()> start_check;
};

class UpdateRetryFamily final : public bridge::Family {
public:
    explicit UpdateRetryFamily(UpdateRetryHooks hooks)
        : m_hooks(std::move(hooks))
    {
    }
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;

private:
    UpdateRetryHooks m_hooks;
};

} // namespace tillbay::app
