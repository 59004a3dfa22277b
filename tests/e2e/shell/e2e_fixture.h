#pragma once

// The start every end-to-end test shares: the reference platform initialised
// and serving, and the program installed beside it as dist/ lays it out.
// Failures are test assertions, so this half of the support is for the tests
// only; the benchmarks use e2e_support alone.

#include "e2e_support.h"

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

} // namespace e2e
