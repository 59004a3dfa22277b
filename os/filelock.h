#pragma once

// Locks between processes, on files that are kept open. Three disciplines:
//
// - exclusive: one holder at a time, any other try fails at once as busy
//   (the bundle store's ".update.lock");
// - shared lease: any number of holders, and while one holds it no exclusive
//   open succeeds (a release's ".lease");
// - exclusive for deletion: succeeds only when no lease is held; the holder
//   then removes the file, and a lease taken on the removed file is refused,
//   so nobody can come to hold a lease on something being deleted.
//
// All three are advisory flock() locks on an open file description: they are
// released when the holder closes the file or dies, which is exactly what a
// program killed in the middle of an install needs. Paths are never followed
// through a symbolic link.

#include "base/result.h"

#include <string>

namespace tillbay::os {

// Error::code of a lock that someone else holds.
inline constexpr int lock_busy = 11; // EWOULDBLOCK

class FileLock {
public:
    FileLock() = default;
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(FileLock const&) = delete;
    FileLock& operator=(FileLock const&) = delete;
    ~FileLock();

    // Opens (creating when missing) and locks exclusively; never waits.
    static Result<FileLock> exclusive(std::string const& path);
    // Opens an existing file and takes a shared lease on it; never waits.
    static Result<FileLock> shared_existing(std::string const& path);
    // Opens (creating when missing) and locks exclusively, for a holder that
    // will remove the file with remove_and_close().
    static Result<FileLock> exclusive_for_delete(std::string const& path);

    bool held() const { return m_fd >= 0; }
    std::string const& path() const { return m_path; }

    // Unlinks the file while still holding the lock, then closes it.
    Status remove_and_close();
    void close();

private:
    FileLock(int fd, std::string path)
        : m_fd(fd)
        , m_path(std::move(path))
    {
    }
    int m_fd = -1;
    std::string m_path;
};

} // namespace tillbay::os
