#include "os/tree.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace tillbay::os::tree {

namespace {

constexpr size_t piece = 64 * 1024;

Error errno_error(std::string const& what, int err)
{
    return Error::from_detail(what + ": " + std::strerror(err), err);
}

class Fd {
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    {
    }
    Fd(Fd&& other) noexcept
        : m_fd(other.m_fd)
    {
        other.m_fd = -1;
    }
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = other.m_fd;
            other.m_fd = -1;
        }
        return *this;
    }
    Fd(Fd const&) = delete;
    Fd& operator=(Fd const&) = delete;
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    int release()
    {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

int open_retry(int dirfd, char const* name, int flags, mode_t mode = 0)
{
    int fd;
    do
        fd = ::openat(dirfd, name, flags | O_CLOEXEC | O_NOFOLLOW, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

std::vector<std::string> split(std::string_view rel)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= rel.size()) {
        auto slash = rel.find('/', start);
        auto end = slash == std::string_view::npos ? rel.size() : slash;
        parts.emplace_back(rel.substr(start, end - start));
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }
    return parts;
}

bool safe_component(std::string const& part)
{
    return !part.empty() && part != "." && part != ".." && part.find('\0') == std::string::npos;
}

// Opens the folder holding rel's last component, walking from root without
// following links; returns it with the last component's name.
Result<std::pair<Fd, std::string>> open_parent(std::string const& root, std::string_view rel)
{
    auto parts = split(rel);
    for (auto const& part : parts)
        if (!safe_component(part))
            return Error::from_detail("unsafe path below " + root + ": " + std::string(rel), EINVAL);
    Fd dir(open_retry(AT_FDCWD, root.c_str(), O_RDONLY | O_DIRECTORY));
    if (dir.get() < 0)
        return errno_error("open " + root, errno);
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        Fd next(open_retry(dir.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY));
        if (next.get() < 0)
            return errno_error("open " + root + "/" + std::string(rel), errno);
        dir = std::move(next);
    }
    return std::pair<Fd, std::string> { std::move(dir), parts.back() };
}

Result<Fd> open_file_beneath(std::string const& root, std::string_view rel)
{
    auto [dir, name] = TRY(open_parent(root, rel));
    Fd file(open_retry(dir.get(), name.c_str(), O_RDONLY));
    if (file.get() < 0)
        return errno_error("open " + root + "/" + std::string(rel), errno);
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Error::from_detail("not a regular file: " + root + "/" + std::string(rel), EINVAL);
    return file;
}

struct MdDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

std::string hex_of(unsigned char const* digest, unsigned size)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (unsigned i = 0; i < size; ++i) {
        hex.push_back(digits[digest[i] >> 4]);
        hex.push_back(digits[digest[i] & 15]);
    }
    return hex;
}

bool write_all(int fd, char const* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Streams src through SHA-256, writing each piece to dst when dst >= 0.
Result<std::string> hash_stream(int src, int dst, std::string const& what)
{
    std::unique_ptr<EVP_MD_CTX, MdDeleter> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        return Error::from_detail("sha256 init failed");
    auto buffer = std::make_unique<char[]>(piece);
    for (;;) {
        ssize_t n = ::read(src, buffer.get(), piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno_error("read " + what, errno);
        if (n == 0)
            break;
        EVP_DigestUpdate(ctx.get(), buffer.get(), static_cast<size_t>(n));
        if (dst >= 0 && !write_all(dst, buffer.get(), static_cast<size_t>(n)))
            return errno_error("write copy of " + what, errno ? errno : ENOSPC);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &size) != 1)
        return Error::from_detail("sha256 final failed");
    return hex_of(digest, size);
}

// Clears the folder open as dirfd; the caller closes it.
Status clear_at(int dirfd, std::string const& where, std::string_view keep)
{
    int dup = ::dup(dirfd);
    if (dup < 0)
        return errno_error("dup " + where, errno);
    DIR* d = ::fdopendir(dup);
    if (!d) {
        ::close(dup);
        return errno_error("opendir " + where, errno);
    }
    std::vector<std::pair<std::string, bool>> entries;
    while (auto* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == ".." || (!keep.empty() && name == keep))
            continue;
        struct stat st {};
        if (::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        entries.emplace_back(name, S_ISDIR(st.st_mode));
    }
    ::closedir(d);
    Status result;
    for (auto const& [name, is_dir] : entries) {
        if (is_dir) {
            Fd sub(open_retry(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY));
            if (sub.get() < 0) {
                result = errno_error("open " + where + "/" + name, errno);
                continue;
            }
            if (auto st = clear_at(sub.get(), where + "/" + name, {}); !st)
                result = st;
            if (::unlinkat(dirfd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
                result = errno_error("rmdir " + where + "/" + name, errno);
        } else if (::unlinkat(dirfd, name.c_str(), 0) != 0 && errno != ENOENT) {
            result = errno_error("unlink " + where + "/" + name, errno);
        }
    }
    return result;
}

std::string parent_of(std::string const& path)
{
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

Kind kind_of(std::string const& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return Kind::Missing;
    if (S_ISLNK(st.st_mode))
        return Kind::Link;
    if (S_ISDIR(st.st_mode))
        return Kind::Directory;
    if (S_ISREG(st.st_mode))
        return Kind::File;
    return Kind::Other;
}

Result<std::vector<Entry>> list(std::string const& dir)
{
    Fd fd(open_retry(AT_FDCWD, dir.c_str(), O_RDONLY | O_DIRECTORY));
    if (fd.get() < 0)
        return errno_error("open " + dir, errno);
    DIR* d = ::fdopendir(fd.get());
    if (!d)
        return errno_error("opendir " + dir, errno);
    int dirfd = fd.release();
    std::vector<Entry> entries;
    while (auto* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        Kind kind = Kind::Missing;
        if (::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            kind = S_ISLNK(st.st_mode) ? Kind::Link
                : S_ISDIR(st.st_mode)  ? Kind::Directory
                : S_ISREG(st.st_mode)  ? Kind::File
                                       : Kind::Other;
        entries.push_back({ std::move(name), kind });
    }
    ::closedir(d);
    return entries;
}

bool file_beneath(std::string const& root, std::string_view rel)
{
    return open_file_beneath(root, rel).ok();
}

Result<std::string> sha256_beneath(std::string const& root, std::string_view rel)
{
    auto file = TRY(open_file_beneath(root, rel));
    return hash_stream(file.get(), -1, root + "/" + std::string(rel));
}

Result<std::string> read_beneath(std::string const& root, std::string_view rel, size_t max_size)
{
    auto file = TRY(open_file_beneath(root, rel));
    struct stat st {};
    if (::fstat(file.get(), &st) != 0)
        return errno_error("stat " + root + "/" + std::string(rel), errno);
    if (static_cast<unsigned long long>(st.st_size) > max_size)
        return Error::from_detail("file too large: " + root + "/" + std::string(rel), EFBIG);
    std::string content;
    content.reserve(static_cast<size_t>(st.st_size));
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno_error("read " + root + "/" + std::string(rel), errno);
        if (n == 0)
            break;
        if (content.size() + static_cast<size_t>(n) > max_size)
            return Error::from_detail("file too large: " + root + "/" + std::string(rel), EFBIG);
        content.append(buffer, static_cast<size_t>(n));
    }
    return content;
}

Result<std::string> copy_hashing(std::string const& src_root, std::string_view rel, std::string const& dst_file)
{
    auto src = TRY(open_file_beneath(src_root, rel));
    Fd dst(open_retry(AT_FDCWD, dst_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    if (dst.get() < 0)
        return errno_error("create " + dst_file, errno);
    auto hash = TRY(hash_stream(src.get(), dst.get(), src_root + "/" + std::string(rel)));
    if (::fsync(dst.get()) != 0)
        return errno_error("fsync " + dst_file, errno);
    return hash;
}

Status make_dirs_beneath(std::string const& root, std::string_view rel_dir)
{
    if (rel_dir.empty())
        return {};
    Fd dir(open_retry(AT_FDCWD, root.c_str(), O_RDONLY | O_DIRECTORY));
    if (dir.get() < 0)
        return errno_error("open " + root, errno);
    for (auto const& part : split(rel_dir)) {
        if (!safe_component(part))
            return Error::from_detail("unsafe folder below " + root + ": " + std::string(rel_dir), EINVAL);
        if (::mkdirat(dir.get(), part.c_str(), 0755) != 0 && errno != EEXIST)
            return errno_error("mkdir " + root + "/" + std::string(rel_dir), errno);
        Fd next(open_retry(dir.get(), part.c_str(), O_RDONLY | O_DIRECTORY));
        if (next.get() < 0)
            return errno_error("open " + root + "/" + std::string(rel_dir), errno);
        dir = std::move(next);
    }
    return {};
}

Status clear_dir(std::string const& dir, std::string_view keep)
{
    Fd fd(open_retry(AT_FDCWD, dir.c_str(), O_RDONLY | O_DIRECTORY));
    if (fd.get() < 0)
        return errno_error("open " + dir, errno);
    return clear_at(fd.get(), dir, keep);
}

Status remove_dir_tree(std::string const& dir)
{
    if (kind_of(dir) != Kind::Directory)
        return Error::from_detail("not a real folder: " + dir, ENOTDIR);
    auto cleared = clear_dir(dir);
    if (::rmdir(dir.c_str()) != 0 && errno != ENOENT)
        return errno_error("rmdir " + dir, errno);
    return cleared;
}

Status write_new_synced(std::string const& path, std::string_view content)
{
    Fd fd(open_retry(AT_FDCWD, path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644));
    if (fd.get() < 0)
        return errno_error("create " + path, errno);
    if (!write_all(fd.get(), content.data(), content.size()))
        return errno_error("write " + path, errno ? errno : ENOSPC);
    if (::fsync(fd.get()) != 0)
        return errno_error("fsync " + path, errno);
    return {};
}

Status replace_synced(std::string const& path, std::string const& temp, std::string_view content)
{
    {
        Fd fd(open_retry(AT_FDCWD, temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
        if (fd.get() < 0)
            return errno_error("create " + temp, errno);
        if (!write_all(fd.get(), content.data(), content.size()) || ::fsync(fd.get()) != 0) {
            int err = errno ? errno : ENOSPC;
            ::unlink(temp.c_str());
            return errno_error("write " + temp, err);
        }
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return errno_error("rename " + temp, err);
    }
    return sync_dir(parent_of(path));
}

Status sync_file(std::string const& path)
{
    Fd fd(open_retry(AT_FDCWD, path.c_str(), O_WRONLY));
    if (fd.get() < 0)
        return errno_error("open " + path, errno);
    if (::fsync(fd.get()) != 0)
        return errno_error("fsync " + path, errno);
    return {};
}

Status sync_dir(std::string const& dir)
{
    Fd fd(open_retry(AT_FDCWD, dir.c_str(), O_RDONLY | O_DIRECTORY));
    if (fd.get() < 0)
        return errno_error("open " + dir, errno);
    if (::fsync(fd.get()) != 0)
        return errno_error("fsync " + dir, errno);
    return {};
}

Status rename_dir_noreplace(std::string const& from, std::string const& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0)
        return errno_error("rename " + from, errno);
    return sync_dir(parent_of(to));
}

} // namespace tillbay::os::tree
