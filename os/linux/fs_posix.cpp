#include "os/fs.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tillbay::os {

// Links followed before a write gives up and writes the path itself.
constexpr int max_links_followed = 16;

static Error errno_error(std::string const& what, std::string const& path)
{
    int saved = errno;
    return Error::from_detail(what + " " + path + ": " + std::strerror(saved), saved);
}

static std::pair<std::string, std::string> split_path(std::string const& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return { ".", path };
    return { slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1) };
}

// A renamed file's new name is durable once its folder is flushed too; a
// folder that cannot be opened for that leaves the file written all the same.
static void sync_folder(std::string const& folder)
{
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
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

// Where a write of path lands: the file a symbolic link points to (followed
// link by link, also when the last target does not exist yet), else path.
static std::string write_target(std::string path)
{
    for (int links = 0; links < max_links_followed; ++links) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
        ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0)
            return path;
        target.resize(static_cast<size_t>(n));
        if (target[0] != '/') {
            auto slash = path.rfind('/');
            target = (slash == std::string::npos ? std::string {} : path.substr(0, slash + 1)) + target;
        }
        path = std::move(target);
    }
    return path;
}

Status write_file_atomic(std::string const& path, std::string_view content, std::string_view temp_suffix)
{
    // A link is written through to its target, which keeps its mode and
    // owner: the settings file may be a link to a shared copy, and one made
    // private by the user stays private. A new file is private.
    std::string target = write_target(path);
    struct stat existing {};
    bool exists = ::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    std::string temp = target + std::string(temp_suffix);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, private_file_mode);
    if (fd < 0)
        return errno_error("create", temp);
    if (exists) {
        // Only root may give a file away; anyone else keeps their own.
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())
            (void)::fchown(fd, existing.st_uid, existing.st_gid);
        (void)::fchmod(fd, existing.st_mode & 07777);
    } else {
        (void)::fchmod(fd, private_file_mode);
    }
    bool ok = write_all(fd, content) && ::fsync(fd) == 0;
    auto error = ok ? Error {} : errno_error("write", temp);
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno_error("close", temp);
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno_error("rename", temp);
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return error;
    }
    sync_folder(split_path(target).first);
    return {};
}

namespace {

// Six letters and digits from the kernel's random source, mixed with a
// process-wide counter and the process id, so that two threads or processes
// never pick one name for long (creation is exclusive in any case).
std::string unique_tag()
{
    static std::atomic<unsigned> counter { 0 };
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6] {};
    (void)::getrandom(bytes, sizeof bytes, GRND_NONBLOCK);
    unsigned mix = static_cast<unsigned>(::getpid()) * 2654435761u + counter.fetch_add(1) * 40503u;
    std::string tag;
    for (unsigned char b : bytes) {
        tag.push_back(alphabet[(b ^ mix) % 36]);
        mix = mix * 1103515245u + 12345u;
    }
    return tag;
}

// Creates folder + "/" + prefix + tag + suffix exclusively, trying a few tags.
Result<std::pair<int, std::string>> create_unique(std::string const& folder, std::string_view prefix,
    std::string_view suffix, mode_t mode)
{
    constexpr int attempts = 32;
    std::string path;
    for (int i = 0; i < attempts; ++i) {
        path = folder + "/" + std::string(prefix) + unique_tag() + std::string(suffix);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0)
            return std::pair { fd, path };
        if (errno != EEXIST)
            return errno_error("create", path);
    }
    return errno_error("create", path);
}

} // namespace

Status write_file_replacing(std::string const& path, std::string_view content, WriteStage* failed_stage)
{
    auto fail = [&](WriteStage stage, Error error) -> Status {
        if (failed_stage)
            *failed_stage = stage;
        return error;
    };
    auto [folder, name] = split_path(path);
    if (name.empty())
        return fail(WriteStage::Create, Error::from_detail("no file name in " + path, EISDIR));
    // A hidden name beside the target, short enough for any file-name limit.
    constexpr size_t name_part = 96;
    std::string prefix = "." + name.substr(0, name_part) + ".";
    auto created = create_unique(folder, prefix, ".part", 0666);
    if (!created)
        return fail(WriteStage::Create, created.release_error());
    auto [fd, temp] = created.release_value();
    bool ok = write_all(fd, content) && ::fsync(fd) == 0;
    auto error = ok ? Error {} : errno_error("write", temp);
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno_error("close", temp);
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return fail(WriteStage::Write, error);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        error = errno_error("rename", temp);
        ::unlink(temp.c_str());
        return fail(WriteStage::Replace, error);
    }
    sync_folder(folder);
    return {};
}

std::string temp_folder()
{
    char const* tmp = std::getenv("TMPDIR");
    if (tmp && tmp[0] == '/')
        return tmp;
    return "/tmp";
}

Result<TempFile> TempFile::create(std::string const& folder, std::string_view prefix, std::string_view suffix,
    std::string_view content)
{
    auto created = create_unique(folder, prefix, suffix, 0600);
    if (!created)
        return created.release_error();
    auto [fd, path] = created.release_value();
    TempFile file(path);
    bool ok = write_all(fd, content);
    auto error = ok ? Error {} : errno_error("write", path);
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno_error("close", path);
    }
    if (!ok)
        return error; // the holder deletes the file
    return file;
}

TempFile::TempFile(TempFile&& other) noexcept
    : m_path(std::exchange(other.m_path, {}))
{
}

TempFile& TempFile::operator=(TempFile&& other) noexcept
{
    if (this != &other) {
        if (!m_path.empty())
            ::unlink(m_path.c_str());
        m_path = std::exchange(other.m_path, {});
    }
    return *this;
}

TempFile::~TempFile()
{
    if (!m_path.empty())
        ::unlink(m_path.c_str());
}

Status write_file(std::string const& path, std::string_view content)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, private_file_mode);
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
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, private_file_mode);
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

Status make_dir(std::string const& path, unsigned mode)
{
    if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST)
        return errno_error("mkdir", path);
    return {};
}

} // namespace tillbay::os
