// The crash report is tested on real crashes: the test binary starts itself
// again as a child that runs only the CrashChild test, which installs the
// report and then dies of the signal the parent asked for.

#include "foundation/log.h"
#include "os/fs.h"
#include "os/process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <spawn.h>
#include <string_view>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace tillbay;
namespace fs = std::filesystem;

namespace {

constexpr char const* mode_variable = "TB_CRASH_CHILD";
constexpr char const* probe_variable = "TB_CRASH_PROBE";

unsigned queued_seven() { return 7; }
int draining_yes() { return 1; }

// Deep enough to overflow any stack; the buffer keeps each frame real.
[[gnu::noinline]] int overflow_stack(long depth)
{
    char volatile frame[256];
    frame[0] = static_cast<char>(depth);
    if (depth <= 0)
        return frame[0];
    return overflow_stack(depth - 1) + frame[depth % 256];
}

// A few frames of our own below the fault, so the stack scan has something to
// find in the executable.
[[gnu::noinline]] void fault_here(std::string_view mode)
{
    if (mode == "segv") {
        void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *static_cast<int volatile*>(page) = 1;
    } else if (mode == "ill") {
        __builtin_trap();
    } else if (mode == "abort") {
        std::abort();
    } else if (mode == "fpe") {
        ::raise(SIGFPE);
    } else if (mode == "bus") {
        ::raise(SIGBUS);
    } else if (mode == "overflow") {
        // A small stack limit makes the overflow quick on any machine.
        rlimit limit { 1 << 20, 1 << 20 };
        ::setrlimit(RLIMIT_STACK, &limit);
        std::printf("%d\n", overflow_stack(1L << 40));
    } else if (mode == "thread-overflow") {
        // A worker started the way the program starts every thread: the
        // report needs the alternate signal stack the thread gets there.
        os::process::start_thread([] { std::printf("%d\n", overflow_stack(1L << 40)); }).join();
    }
}

[[gnu::noinline]] void crash_through_frames(std::string_view mode, int depth)
{
    if (depth > 0)
        crash_through_frames(mode, depth - 1);
    else
        fault_here(mode);
    asm volatile("" ::: "memory"); // keeps the calls from becoming jumps
}

TEST(CrashChild, Run)
{
    char const* mode = std::getenv(mode_variable);
    if (!mode)
        GTEST_SKIP() << "runs only as the child of the crash report tests";
    // A core file per test run helps no one.
    ::prctl(PR_SET_DUMPABLE, 0);
    if (std::getenv(probe_variable))
        log::set_crash_queue_probe(queued_seven, draining_yes);
    log::install_crash_report();
    crash_through_frames(mode, 3);
    ::_exit(99);
}

struct ChildEnd {
    bool signalled = false;
    int signal_number = 0;
    int exit_code = -1;
};

// Runs the test binary again as a crashing child in `folder`, with
// LOCALAPPDATA set to it or with no application-data folder at all.
ChildEnd run_child(std::string const& mode, std::string const& folder, bool with_folder, bool with_probe)
{
    std::vector<std::string> variables;
    for (char** e = environ; *e; ++e) {
        std::string_view entry(*e);
        auto name = entry.substr(0, entry.find('='));
        if (name == "LOCALAPPDATA" || name == "XDG_DATA_HOME" || name == "HOME" || name == "ASAN_OPTIONS"
            || name == mode_variable || name == probe_variable)
            continue;
        variables.emplace_back(entry);
    }
    variables.push_back(std::string(mode_variable) + "=" + mode);
    if (with_folder)
        variables.push_back("LOCALAPPDATA=" + folder);
    if (with_probe)
        variables.push_back(std::string(probe_variable) + "=1");
    // Under AddressSanitizer the child must leave the fatal signals to the
    // crash report, as a normal build does.
    variables.push_back("ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:"
                        "allow_user_segv_handler=1:detect_leaks=0");

    std::vector<char*> envp;
    for (auto& v : variables)
        envp.push_back(v.data());
    envp.push_back(nullptr);

    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=CrashChild.Run";
    char* argv[] = { self.data(), filter.data(), nullptr };

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return {};
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return {};
    ChildEnd end;
    end.signalled = WIFSIGNALED(status);
    end.signal_number = end.signalled ? WTERMSIG(status) : 0;
    end.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return end;
}

class CrashReport : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "tb-crash-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }
    std::string m_root;
};

std::vector<std::string> split_lines(std::string const& content)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        auto end = content.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(content.substr(start));
            break;
        }
        lines.push_back(content.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

TEST_F(CrashReport, WritesTheReportAndDiesOfTheSameSignal)
{
    struct Case {
        char const* mode;
        int signal_number;
        bool probe;
        bool overflow = false;
    };
    Case const cases[] = {
        { "segv", SIGSEGV, true },
        { "ill", SIGILL, false },
        { "abort", SIGABRT, true },
        { "fpe", SIGFPE, false },
        { "bus", SIGBUS, true },
        // The handler runs on its own stack, and the scan stops at 3,000 lines.
        { "overflow", SIGSEGV, false, true },
        { "thread-overflow", SIGSEGV, false, true },
    };
    std::string const self_name = fs::read_symlink("/proc/self/exe").filename().string().substr(0, 60);

    for (auto const& c : cases) {
        SCOPED_TRACE(c.mode);
        std::string crash_path = m_root + "/TillBay/crash.txt";
        std::error_code ignored;
        fs::remove(crash_path, ignored);

        auto end = run_child(c.mode, m_root, true, c.probe);
        ASSERT_TRUE(end.signalled) << "exit code " << end.exit_code;
        EXPECT_EQ(end.signal_number, c.signal_number);

        auto content = os::read_file(crash_path, 1 << 20);
        ASSERT_TRUE(content.ok());
        struct stat st {};
        ASSERT_EQ(::stat(crash_path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << "the report is its user's alone";
        EXPECT_TRUE(content.value().ends_with("\r\n"));
        auto lines = split_lines(content.value());
        ASSERT_GE(lines.size(), 3u);

        char code[16];
        std::snprintf(code, sizeof code, "%08x", c.signal_number);
        std::smatch first;
        ASSERT_TRUE(std::regex_match(lines[0], first, std::regex(std::string("code ") + code + " base 0x([0-9a-f]+) eip 0x([0-9a-f]+)")))
            << lines[0];
        if (std::string_view(c.mode) == "segv" || std::string_view(c.mode) == "ill") {
            // The fault is in our own code, above the executable's load address.
            EXPECT_GE(std::stoull(first[2].str(), nullptr, 16), std::stoull(first[1].str(), nullptr, 16));
        }

        std::smatch second;
        ASSERT_TRUE(std::regex_match(lines[1], second, std::regex(R"(stack live (\d+) KB, q=(\d+), in=(-?\d+))")))
            << lines[1];
        if (c.overflow) {
            EXPECT_GE(std::stoul(second[1].str()), 900u);
            EXPECT_EQ(lines.size() - 2, 3'000u);
        } else {
            EXPECT_LT(std::stoul(second[1].str()), 8u * 1024);
        }
        EXPECT_EQ(second[2].str(), c.probe ? "7" : "0");
        EXPECT_EQ(second[3].str(), c.probe ? "1" : "0");

        EXPECT_LE(lines.size() - 2, 3'000u);
        // A module name may hold a plus itself (libstdc++).
        std::regex const frame(R"(.{1,60}\+[0-9a-f]{6,})");
        bool own_frame = false;
        for (size_t i = 2; i < lines.size(); ++i) {
            EXPECT_TRUE(std::regex_match(lines[i], frame)) << lines[i];
            own_frame = own_frame || lines[i].starts_with(self_name + "+");
        }
        EXPECT_TRUE(own_frame) << "no line names " << self_name;
    }
}

TEST_F(CrashReport, WithoutAFolderNothingIsWrittenAndTheProcessStillDies)
{
    auto end = run_child("segv", m_root, false, true);
    ASSERT_TRUE(end.signalled) << "exit code " << end.exit_code;
    EXPECT_EQ(end.signal_number, SIGSEGV);
    // The child ran in this folder: no report landed in it either.
    EXPECT_TRUE(fs::is_empty(m_root));

    end = run_child("abort", m_root, false, false);
    ASSERT_TRUE(end.signalled);
    EXPECT_EQ(end.signal_number, SIGABRT);
    EXPECT_TRUE(fs::is_empty(m_root));
}

} // namespace
