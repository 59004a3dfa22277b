#include "printer_peer.h"

#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>

namespace printing_test {

using namespace std::chrono_literals;

std::string build_dir()
{
    char const* build = std::getenv("TB_BUILD_DIR");
    return build ? build : ".";
}

std::string make_dir(std::string const& prefix) { return e2e::make_temp_dir(prefix); }

void remove_tree(std::string const& path)
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

PrinterPeer::PrinterPeer(std::vector<std::string> options)
{
    m_dir = make_dir("tb-printer");
    m_jobs = m_dir + "/jobs";
    m_log = m_dir + "/printer.log";
    std::vector<std::string> argv { build_dir() + "/tools/printer/tillbay-printer", "--port", "0", "--jobs", m_jobs,
        "--idle-ms", "2000" };
    argv.insert(argv.end(), options.begin(), options.end());
    m_child = e2e::Child::start(argv, {}, m_log);
    e2e::wait_for(
        [&] {
            std::string text = e2e::read_text(m_log);
            auto at = text.find("listening on 127.0.0.1:");
            if (at == std::string::npos)
                return false;
            m_port = std::atoi(text.c_str() + at + 23);
            return m_port > 0;
        },
        5s);
}

PrinterPeer::~PrinterPeer()
{
    m_child.stop();
    remove_tree(m_dir);
}

std::string PrinterPeer::log() const { return e2e::read_text(m_log); }

static std::string job_path(std::string const& jobs, int n, char const* extension)
{
    char name[32];
    std::snprintf(name, sizeof name, "/%04d.%s", n, extension);
    return jobs + name;
}

std::string PrinterPeer::job(int n, std::chrono::milliseconds wait) const
{
    std::string path = job_path(m_jobs, n, "bin");
    struct stat st {};
    if (!e2e::wait_for([&] { return ::stat(path.c_str(), &st) == 0; }, wait))
        return {};
    return e2e::read_text(path);
}

std::string PrinterPeer::job_text(int n) const { return e2e::read_text(job_path(m_jobs, n, "txt")); }

int PrinterPeer::job_count() const
{
    int count = 0;
    if (DIR* dir = ::opendir(m_jobs.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() == 8 && name.ends_with(".bin"))
                ++count;
        }
        ::closedir(dir);
    }
    return count;
}

} // namespace printing_test
