#pragma once

// A settings file of the test's own: a temporary folder stands in for the
// program's folder, so the readers and writers use its tillbay.ini.

#include "foundation/paths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tillbay::test {

class SettingsFile {
public:
    explicit SettingsFile(std::string const& content = "")
    {
        char pattern[] = "/tmp/tb-printing-XXXXXX";
        m_dir = mkdtemp(pattern);
        write(content);
        paths::set_exe_dir_for_testing(m_dir + "/");
    }
    ~SettingsFile()
    {
        paths::set_exe_dir_for_testing("");
        std::filesystem::remove_all(m_dir);
    }
    SettingsFile(SettingsFile const&) = delete;
    SettingsFile& operator=(SettingsFile const&) = delete;

    void write(std::string const& content)
    {
        std::ofstream out(path(), std::ios::binary | std::ios::trunc);
        out << content;
    }
    std::string read() const
    {
        std::ifstream in(path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string path() const { return m_dir + "/tillbay.ini"; }
    std::string const& dir() const { return m_dir; }

private:
    std::string m_dir;
};

} // namespace tillbay::test
