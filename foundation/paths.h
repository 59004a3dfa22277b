#pragma once

// Where the program's files live. The settings file and the installation copy
// of the UI sit next to the executable; the user's preferences and the logs
// live in the per-user folder "TillBay" under the local application-data
// folder: LOCALAPPDATA when set, else XDG_DATA_HOME, else $HOME/.local/share.

#include <string>
#include <string_view>

namespace tillbay::paths {

// The executable's folder with a trailing '/', or empty when it cannot be had
// or the path is 260 bytes or longer.
std::string exe_dir();

// "<exe_dir>tillbay.ini", or empty when exe_dir() is empty.
std::string settings_path();

// The per-user folder with a trailing '/', created when missing, or empty when
// no application-data folder is known.
std::string user_dir();

// A per-user file: user_dir() + name, or, without a per-user folder, the
// fallback name next to the executable (empty when neither is known).
std::string user_file(std::string_view name, std::string_view fallback_name);
inline std::string user_file(std::string_view name) { return user_file(name, name); }

// Tests and tools point the program at other folders. An empty text restores
// the real value.
void set_exe_dir_for_testing(std::string dir);

} // namespace tillbay::paths
