#pragma once

// The start every end-to-end test shares: the reference platform initialised
// and serving, and the program installed beside it as dist/ lays it out.
// Failures are test assertions, so this half of the support is for the tests
// only; the benchmarks use e2e_support alone.

#include "e2e_support.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace e2e {

// One test's installation of the program beside a running reference platform.
struct Installation {
    std::string build;        // TB_BUILD_DIR
    std::string root;         // the test's temporary folder
    std::string pos;          // the installation folder, laid out as dist/
    std::string home;         // the program's LOCALAPPDATA
    std::string artefacts;    // screenshots, kept in the build folder
    std::string platform_log;
    std::string pos_log;      // the program's standard output and error
    std::string bridge_log;
    int control = 0;          // the platform's control port
    int automation = 0;       // the program's automation endpoint
    Child platform;
};

// Which UI the platform's web host serves: the built bundle itself, or a copy
// of it in the test's folder.
enum class ServedUi { Built, Copy };

// Sets up the installation for the test called name and starts the platform
// on it; a fatal test failure, with the logs, when either does not work.
void set_up_installation(Installation& at, std::string const& name, ServedUi ui);

// Starts the installed program on display, or under its own xvfb-run when
// display is empty, with extra_env on top of what every test sets.
Child* start_program(
    Installation const& at, std::string const& display, std::vector<std::string> const& extra_env = {});

// The program's page through its automation endpoint: the page record
// (GET /doc), whether the page of that class is on screen and ready, the JSON
// value of a script ("true", "\"text\"", ...) and a screenshot kept as
// artefacts/<name>.png.
std::string page_record(Installation const& at);
bool shows_page(Installation const& at, int page_class);
std::string script_value(
    Installation const& at, std::string const& expression, std::string const& endpoint = "/eval");
void save_snapshot(
    Installation const& at, std::string const& name, std::string const& endpoint = "/snapshot");

// Starts the program with start() and waits for the sign-in page.
void start_to_sign_in(Installation const& at, Child*& program, std::function<Child*()> const& start);
// A first start may take the web host's copy of the UI as a new bundle and
// ask for a restart (the bridge log says so within 5 s): then the program is
// started once more and the sign-in page awaited again.
void restart_if_updated(Installation const& at, Child*& program, std::function<Child*()> const& start);
// From the sign-in page: the counter signs in as the test store's staff
// (tillbay01) and the order board comes up within board_limit.
void sign_in_counter(Installation const& at, std::chrono::seconds board_limit = std::chrono::seconds(20));
// From the order board: the store's owner signs in (owner01).
void sign_in_owner(Installation const& at);

// A test suite that drives one installed program. Suite is the test class
// itself, so that every suite has an installation and a program of its own.
template<class Suite> class ProgramTest : public ::testing::Test {
protected:
    static std::string doc() { return page_record(s_at); }
    static bool on_page(int page_class) { return shows_page(s_at, page_class); }
    static std::string value_of(std::string const& expression, std::string const& endpoint = "/eval")
    {
        return script_value(s_at, expression, endpoint);
    }
    // A JSON string as plain text (the pages' texts hold no escapes the tests look for).
    static std::string text_of(std::string const& expression)
    {
        std::string value = value_of(expression);
        if (value.size() >= 2 && value.front() == '"')
            value = value.substr(1, value.size() - 2);
        return value;
    }
    static void snapshot(std::string const& name, std::string const& endpoint = "/snapshot")
    {
        save_snapshot(s_at, name, endpoint);
    }
    static void start_to_sign_in(std::function<Child*()> const& start)
    {
        e2e::start_to_sign_in(s_at, s_program, start);
    }
    static void restart_if_updated(std::function<Child*()> const& start)
    {
        e2e::restart_if_updated(s_at, s_program, start);
    }

    static inline Installation s_at;
    static inline Child* s_program = nullptr;
};

} // namespace e2e
