#pragma once

// Starting the program with the user's desktop session. On Linux this is the
// XDG autostart entry "tillbay.desktop"; the program only ever writes the
// entry for the current user, and never asks for administrator rights.

#include "base/result.h"

#include <memory>
#include <optional>
#include <string>

namespace tillbay::os {

class Autostart {
public:
    virtual ~Autostart() = default;

    // The program the entry starts; nullopt when there is no entry. Fails
    // when the place of the entries cannot be known or the entry not read.
    virtual Result<std::optional<std::string>> program() = 0;
    // Writes the entry for the program at the absolute path, replacing any.
    virtual Status set_program(std::string const& path) = 0;
    // Removes the entry; none is success.
    virtual Status remove() = 0;
};

// The current user's XDG autostart entry:
// $XDG_CONFIG_HOME/autostart/tillbay.desktop, or ~/.config/autostart/.
std::unique_ptr<Autostart> desktop_autostart();

} // namespace tillbay::os
