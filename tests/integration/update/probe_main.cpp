// A stand-in for the program in the update tests: it runs the start-up swap
// exactly as the program does, then reports which build it is, its
// arguments and the bundle in use, and runs an update check when asked.
//
//   update_probe_X [check | hold | any arguments...]

#include "foundation/settings.h"
#include "update/bundle.h"
#include "update/self_update.h"

#include <cstdio>
#include <string>
#include <unistd.h>

using namespace tillbay;

int main(int argc, char** argv)
{
    if (update::swap_at_start(argv))
        return 0;
    settings::read_server_settings();
    bundle::set_web_host(settings::server().webhost);
    bool seeded = bundle::seed_from_installation();
    std::string mode = argc > 1 ? argv[1] : "";
    std::printf("probe %s\n", PROBE_TAG);
    std::printf("argv");
    for (int i = 1; i < argc; ++i)
        std::printf(" [%s]", argv[i]);
    std::printf("\n");
    std::printf("ui %s leased %d seeded %d\n", bundle::ui_version_in_use().c_str(), bundle::leased() ? 1 : 0,
        seeded ? 1 : 0);
    if (mode == "check") {
        update::Hooks hooks {
            [](auto const& state, auto const& message) { std::printf("state [%s] [%s]\n", state.c_str(), message.c_str()); },
            [] { std::printf("toast [%s]\n", update::text::staged_toast); },
            [](auto const& error) { std::printf("toast [%s%s]\n", update::text::failed_toast_prefix, error.c_str()); },
            [](auto const& message) { std::printf("status [%s]\n", message.c_str()); },
        };
        update::run_check(hooks, update::this_process());
    }
    if (mode == "hold") {
        auto root = bundle::root_in_use();
        std::printf("holding %s\n", root ? root->c_str() : "");
        std::fflush(stdout);
        char c;
        while (::read(0, &c, 1) > 0) {
        }
    }
    std::printf("end\n");
    return 0;
}
