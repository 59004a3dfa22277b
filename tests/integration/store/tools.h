#pragma once

// Running the outside programs these tests check against, and a scratch
// folder per test.

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>

namespace tillbay::test {

struct Output {
    int status = -1;
    std::string text;
};

enum class Streams {
    Both,       // standard output and standard error together
    OutputOnly, // standard error thrown away
};

// Runs a shell command line; quote its arguments with shell_quoted().
inline Output run(std::string const& command, Streams streams = Streams::Both)
{
    Output out;
    FILE* pipe = popen((command + (streams == Streams::Both ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
    if (!pipe)
        return out;
    std::array<char, 4096> buffer {};
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        out.text.append(buffer.data(), n);
    int status = pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

inline std::string shell_quoted(std::string const& text)
{
    // Single quotes hold everything but a single quote, which is closed,
    // escaped and reopened.
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out.push_back(c);
    }
    return out + "'";
}

inline std::string slurp(std::filesystem::path const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void spill(std::filesystem::path const& path, std::string const& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::string source_path(std::string const& relative)
{
    char const* root = std::getenv("TB_SOURCE_DIR");
    return std::string(root ? root : TB_SOURCE_ROOT) + "/" + relative;
}

class ScratchDir {
public:
    explicit ScratchDir(char const* name)
    {
        std::string pattern = std::string("/tmp/tb-") + name + "-XXXXXX";
        m_path = mkdtemp(pattern.data());
    }
    ~ScratchDir() { std::filesystem::remove_all(m_path); }
    std::filesystem::path const& path() const { return m_path; }
    std::filesystem::path operator/(std::string const& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

} // namespace tillbay::test
