#include "os/fs.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tillbay::os {

static Error errno_error(std::string const& what, std::string const& path)
{
    int saved = errno;
    return Error::from_detail(what + " " + path + ": " + std::strerror(saved), saved);
}

static bool write_all(int fd, std::string_view content)
{
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

static Result<std::string> read_up_to(std::string const& path, size_t limit, bool fail_when_larger)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno_error("open", path);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        auto error = errno_error("stat", path);
        ::close(fd);
        return error;
    }
    size_t size = static_cast<size_t>(st.st_size);
    if (size > limit && fail_when_larger) {
        ::close(fd);
        return Error::from_detail("file too large: " + path, EFBIG);
    }
    std::string content(std::min(size, limit), '\0');
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::read(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            auto error = errno_error("read", path);
            ::close(fd);
            return error;
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    content.resize(done);
    return content;
}

Result<std::string> read_file(std::string const& path, size_t max_size) { return read_up_to(path, max_size, true); }

Result<std::string> read_prefix(std::string const& path, size_t max_bytes) { return read_up_to(path, max_bytes, false); }

bool file_exists(std::string const& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

long long file_size(std::string const& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    return static_cast<long long>(st.st_size);
}

Status write_file_atomic(std::string const& path, std::string_view content, std::string_view temp_suffix)
{
    std::string temp = path + std::string(temp_suffix);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno_error("create", temp);
    bool ok = write_all(fd, content) && ::fsync(fd) == 0;
    auto error = ok ? Error {} : errno_error("write", temp);
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno_error("close", temp);
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno_error("rename", temp);
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return error;
    }
    return {};
}

Status write_file(std::string const& path, std::string_view content)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno_error("create", path);
    bool ok = write_all(fd, content);
    auto error = ok ? Error {} : errno_error("write", path);
    ::close(fd);
    if (!ok)
        return error;
    return {};
}

Status append_file(std::string const& path, std::string_view content)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno_error("open", path);
    ssize_t n;
    do {
        n = ::write(fd, content.data(), content.size());
    } while (n < 0 && errno == EINTR);
    auto error = n == static_cast<ssize_t>(content.size()) ? Error {} : errno_error("append", path);
    ::close(fd);
    if (n != static_cast<ssize_t>(content.size()))
        return error;
    return {};
}

Status rename_file(std::string const& from, std::string const& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        return errno_error("rename", from);
    return {};
}

Status remove_file(std::string const& path)
{
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return errno_error("unlink", path);
    return {};
}

Status make_dir(std::string const& path)
{
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        return errno_error("mkdir", path);
    return {};
}

} // namespace tillbay::os
