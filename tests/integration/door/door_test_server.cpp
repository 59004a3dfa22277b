// The tablet door on its own, for the integration tests, the load scripts
// and the benchmark: the real server and routes with a signed-in store, a
// kitchen list and a UI folder given on the command line. Prints
// "port <n> token <t>" once listening, and runs until its standard input
// closes or it is signalled.
//
//   door_test_server --ui DIR [--bind ADDR] [--port N] [--max-connections N]
//                    [--evict-after-ms N] [--deadline-ms N] [--signed-out] [--settings DIR]

#include "door/door_server.h"
#include "door/door_state.h"
#include "foundation/paths.h"
#include "os/crypto.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

using namespace tillbay;

int main(int argc, char** argv)
{
    std::string ui, bind = "127.0.0.1", settings_dir;
    int port = 0;
    bool signed_in = true;
    door::Door::Config config;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--ui")
            ui = next();
        else if (arg == "--bind")
            bind = next();
        else if (arg == "--port")
            port = std::atoi(next().c_str());
        else if (arg == "--max-connections")
            config.limits.max_connections = static_cast<size_t>(std::atoi(next().c_str()));
        else if (arg == "--evict-after-ms")
            config.limits.evict_after_ms = std::atoi(next().c_str());
        else if (arg == "--deadline-ms")
            config.limits.deadline_ms = std::atoi(next().c_str());
        else if (arg == "--signed-out")
            signed_in = false;
        else if (arg == "--settings")
            settings_dir = next();
    }
    config.bind_address = bind;
    if (!settings_dir.empty())
        paths::set_exe_dir_for_testing(settings_dir + "/");
    std::signal(SIGPIPE, SIG_IGN);

    door::DoorHooks hooks;
    hooks.signed_in_shop = [signed_in]() -> std::optional<std::string> {
        if (!signed_in)
            return std::nullopt;
        return std::string("틸웨 분식");
    };
    hooks.ui_folders = [ui] { return std::vector<std::string> { ui }; };
    hooks.queue_command = [](std::string command) {
        std::printf("queued %s\n", command.c_str());
        std::fflush(stdout);
    };
    hooks.now_ms = [] {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
    };
    door::set_kitchen_list(R"({"orders":[{"orderidx":7,"ordernum":"7","tablenum":3,"status":1,"waitmin":4,)"
                           R"("items":[{"mname":"김치찌개","qty":2,"comment":""}]}],"storeidx":1})");
    door::Door door(std::move(hooks), [](std::span<uint8_t> out) { return os::random_bytes(out); }, config);
    auto opened = door.open(port);
    if (!opened.ok()) {
        std::fprintf(stderr, "door: %s (%s)\n", opened.error().message.c_str(), opened.error().detail.c_str());
        return 1;
    }
    std::printf("port %d token %s\n", door.bound_port(), door.token().c_str());
    std::fflush(stdout);
    char c;
    while (::read(0, &c, 1) > 0) { }
    door.close();
    return 0;
}
