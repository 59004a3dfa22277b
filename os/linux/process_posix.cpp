#include "os/process.h"

#include <climits>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace tillbay::os::process {

std::string own_executable()
{
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer)
        return {};
    return std::string(buffer, static_cast<size_t>(n));
}

int spawn(std::string const& path, char* const argv[])
{
    pid_t pid = 0;
    return ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ);
}

} // namespace tillbay::os::process
