#include "foundation/paths.h"

#include "os/fs.h"
#include "os/process.h"

#include <climits>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace tillbay::paths {

namespace {
std::mutex g_override_lock;
std::string g_exe_dir_override;

std::string with_slash(std::string dir)
{
    if (!dir.empty() && dir.back() != '/')
        dir.push_back('/');
    return dir;
}
}

void set_exe_dir_for_testing(std::string dir)
{
    std::lock_guard lock(g_override_lock);
    g_exe_dir_override = with_slash(std::move(dir));
}

std::string exe_dir()
{
    {
        std::lock_guard lock(g_override_lock);
        if (!g_exe_dir_override.empty())
            return g_exe_dir_override;
    }
    std::string path = os::process::own_executable();
    // The settings path must stay below 260 bytes.
    if (path.empty() || path.size() >= 260)
        return {};
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return path.substr(0, slash + 1);
}

std::string settings_path()
{
    auto dir = exe_dir();
    return dir.empty() ? std::string {} : dir + "tillbay.ini";
}

// The folder holds logs, order history and the crash report: one that an
// earlier build made readable by others is closed again, when it is ours.
static void make_private(std::string const& dir)
{
    struct stat st {};
    if (::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
        (void)::chmod(dir.c_str(), st.st_mode & 07700);
}

static std::string app_data_dir()
{
    for (char const* name : { "LOCALAPPDATA", "XDG_DATA_HOME" }) {
        char const* value = std::getenv(name);
        if (value && *value)
            return value;
    }
    char const* home = std::getenv("HOME");
    if (home && *home)
        return std::string(home) + "/.local/share";
    return {};
}

std::string user_dir()
{
    auto base = app_data_dir();
    if (base.empty())
        return {};
    auto dir = with_slash(base) + "TillBay";
    // Failure is ignored here: the file operation that follows reports it.
    (void)os::make_dir(with_slash(base), os::private_dir_mode);
    (void)os::make_dir(dir, os::private_dir_mode);
    make_private(dir);
    return dir + "/";
}

std::string user_file(std::string_view name, std::string_view fallback_name)
{
    auto dir = user_dir();
    if (!dir.empty())
        return dir + std::string(name);
    auto exe = exe_dir();
    return exe.empty() ? std::string {} : exe + std::string(fallback_name);
}

} // namespace tillbay::paths
