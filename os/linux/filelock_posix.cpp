#include "os/filelock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tillbay::os {

static_assert(lock_busy == EWOULDBLOCK);

namespace {

Error errno_error(char const* what, std::string const& path, int err)
{
    return Error::from_detail(std::string(what) + " " + path + ": " + std::strerror(err), err);
}

// After flock() succeeds the file may have been removed (or replaced) by a
// holder that had it locked before us: a lock on a file no longer reachable by
// its name protects nothing, so it counts as busy.
bool still_named(int fd, std::string const& path)
{
    struct stat by_fd {};
    struct stat by_name {};
    if (::fstat(fd, &by_fd) != 0 || by_fd.st_nlink == 0)
        return false;
    if (::lstat(path.c_str(), &by_name) != 0)
        return false;
    return by_fd.st_dev == by_name.st_dev && by_fd.st_ino == by_name.st_ino;
}

Result<int> open_and_lock(std::string const& path, int flags, int operation)
{
    int fd;
    do
        fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno_error("open", path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Error::from_detail("not a regular file: " + path, EINVAL);
    }
    int rc;
    do
        rc = ::flock(fd, operation | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        ::close(fd);
        return errno_error("flock", path, err == EWOULDBLOCK ? lock_busy : err);
    }
    if (!still_named(fd, path)) {
        ::close(fd);
        return Error::from_detail("removed while locking: " + path, lock_busy);
    }
    return fd;
}

} // namespace

FileLock::FileLock(FileLock&& other) noexcept
    : m_fd(other.m_fd)
    , m_path(std::move(other.m_path))
{
    other.m_fd = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        m_path = std::move(other.m_path);
        other.m_fd = -1;
    }
    return *this;
}

FileLock::~FileLock() { close(); }

void FileLock::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

Result<FileLock> FileLock::exclusive(std::string const& path)
{
    int fd = TRY(open_and_lock(path, O_RDWR | O_CREAT, LOCK_EX));
    return FileLock(fd, path);
}

Result<FileLock> FileLock::shared_existing(std::string const& path)
{
    int fd = TRY(open_and_lock(path, O_RDONLY, LOCK_SH));
    return FileLock(fd, path);
}

Result<FileLock> FileLock::exclusive_for_delete(std::string const& path)
{
    return exclusive(path);
}

Status FileLock::remove_and_close()
{
    if (m_fd < 0)
        return Error::from_detail("remove of a lock not held: " + m_path, EBADF);
    Status status;
    if (::unlink(m_path.c_str()) != 0 && errno != ENOENT)
        status = errno_error("unlink", m_path, errno);
    close();
    return status;
}

} // namespace tillbay::os
