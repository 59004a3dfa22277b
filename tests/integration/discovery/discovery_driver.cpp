// tb-discovery-driver: the printer search's commands outside the program,
// for the tests and the benchmark that run it inside a network namespace.
// Each line on standard input is a bridge command ("discoverprinters</>r</>7",
// "cancelprinterdiscovery</>7", "getprintlinks</>k"); every answer is one
// line on standard output:
//
//   PAGE <generation> <script>     an answer a worker queued for the page
//   CALL <name>(<args>)            an answer given at once
//   STATUS <text>                  a status message
//
// The end of input (or "quit") cancels what runs and waits for the workers.

#include "bridge/bridge.h"
#include "printing/discovery/discovery_family.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>

using namespace tillbay;

namespace {

std::mutex g_output;

void say(std::string const& line)
{
    std::lock_guard guard(g_output);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class PrintingPage final : public bridge::Page {
public:
    void callback(std::string_view name, std::string_view args) override
    {
        say("CALL " + std::string(name) + "(" + std::string(args) + ")");
    }
    void status(std::string_view message) override { say("STATUS " + std::string(message)); }
};

} // namespace

int main(int argc, char** argv)
{
    os::local::Roots roots;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--sys"))
            roots.sys = argv[i + 1];
        else if (!std::strcmp(argv[i], "--dev"))
            roots.dev = argv[i + 1];
    }
    discovery::SystemLocalPrinters printers(roots);
    discovery::DiscoveryHooks hooks;
    hooks.queue_internal = [](std::string text) {
        // "\x01printlinks</>generation</>script"
        std::string_view body = std::string_view(text).substr(1);
        size_t first = body.find("</>");
        size_t second = body.find("</>", first + 3);
        say("PAGE " + std::string(body.substr(first + 3, second - first - 3)) + " "
            + std::string(body.substr(second + 3)));
    };
    hooks.saved_link = [](std::string_view target) {
        return discovery::SavedLink { target == "k" ? "inherit" : "tcp|10.0.0.9|9100", "" };
    };
    discovery::DiscoveryFamily family(printers, discovery::system_machine(), hooks);

    PrintingPage page;
    uint64_t generation = 1;
    std::string line;
    say("READY");
    while (std::getline(std::cin, line)) {
        if (line == "quit")
            break;
        bridge::Command command;
        command.fields = bridge::split_fields(line);
        command.generation = generation;
        if (family.handle(command, page) == bridge::Handled::No)
            say("UNKNOWN " + line);
    }
    return 0;
}
