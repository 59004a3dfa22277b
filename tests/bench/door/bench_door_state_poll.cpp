// Tablets poll the door's /state with the ETag they have, and the door
// answers 304. This measures those answers per second under 16 concurrent
// pollers (wrk, one request per connection as the door closes each one)
// beside nginx serving a small static file with an ETag and
// "Connection: close" on the same machine, in the same run. The door runs
// one event-loop thread; nginx runs with its usual worker per core. The
// figure is the door's rate as a multiple of nginx's; at least 1.0 is the goal.

#include "door_client.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <regex>
#include <string>
#include <thread>

using namespace door_test;

namespace {

constexpr char wrk_args[] = "-t2 -c16 -d5s --timeout 2s";

double requests_per_second(std::string const& text)
{
    std::smatch m;
    return std::regex_search(text, m, std::regex("Requests/sec:\\s+([0-9.]+)")) ? std::stod(m[1]) : 0.0;
}

std::string etag_of(std::string const& head)
{
    std::smatch m;
    return std::regex_search(head, m, std::regex("ETag: (\"[^\"\\r\\n]+\")", std::regex::icase)) ? std::string(m[1]) : "";
}

int free_port()
{
    auto r = shell("python3 -c 'import socket;s=socket.socket();s.bind((\"127.0.0.1\",0));print(s.getsockname()[1])'");
    return std::atoi(r.out.c_str());
}

} // namespace

int main()
{
    if (shell("command -v wrk >/dev/null && command -v nginx >/dev/null").status != 0) {
        std::cout << "bench_door_state_poll: skipped (wrk or nginx is not installed)\n";
        return 0;
    }
    std::string dir = temp_dir("tb-door-bench");
    std::ofstream(dir + "/tillbay.ini") << "[TABLET]\r\n";

    // The door.
    Server door = Server::start({ std::string(TB_BUILD_DIR) + "/tests/integration/door/door_test_server", "--ui",
        std::string(TB_BUILD_DIR) + "/ui-bundle", "--settings", dir });
    if (door.port == 0) {
        std::cerr << "the door test server did not start\n" << door.output;
        return 1;
    }
    std::string door_url = "http://127.0.0.1:" + std::to_string(door.port) + "/state";
    std::string door_etag = etag_of(shell("curl -s -D - -o /dev/null -H 'X-Tilla-Token: " + door.token + "' " + door_url).out);

    // nginx with a static file of the same size as the state.
    int nginx_port = free_port();
    std::ofstream(dir + "/state.json") << "{\"s\":\"idle\"}";
    // nginx's workers run as another user when started by root.
    shell("chmod 755 '" + dir + "' && chmod 644 '" + dir + "/state.json'");
    std::ofstream(dir + "/nginx.conf") << "daemon off;\nworker_processes auto;\npid " << dir << "/nginx.pid;\n"
                                       << "error_log " << dir << "/nginx-error.log;\n"
                                       << "events { worker_connections 1024; }\n"
                                       << "http {\n  access_log off;\n  keepalive_timeout 0;\n  etag on;\n"
                                       << "  client_body_temp_path " << dir << "/body;\n  proxy_temp_path " << dir << "/proxy;\n"
                                       << "  fastcgi_temp_path " << dir << "/fastcgi;\n  uwsgi_temp_path " << dir << "/uwsgi;\n"
                                       << "  scgi_temp_path " << dir << "/scgi;\n"
                                       << "  server {\n    listen 127.0.0.1:" << nginx_port << ";\n    root " << dir << ";\n"
                                       << "    location / { default_type application/json; add_header Cache-Control no-store; }\n  }\n}\n";
    Server nginx = Server::start({ "sh", "-c", "nginx -c " + dir + "/nginx.conf -e " + dir + "/nginx-error.log & echo port 1 token x; wait" });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::string nginx_url = "http://127.0.0.1:" + std::to_string(nginx_port) + "/state.json";
    std::string nginx_etag = etag_of(shell("curl -s -D - -o /dev/null " + nginx_url).out);
    if (door_etag.empty() || nginx_etag.empty()) {
        std::cerr << "no ETag: door " << door_etag << ", nginx " << nginx_etag << "\n";
        shell("kill $(cat " + dir + "/nginx.pid) 2>/dev/null");
        return 1;
    }

    // Each side twice, alternating, so that neither gets the quieter moment.
    double door_rate = 0, nginx_rate = 0;
    for (int round = 0; round < 2; ++round) {
        door_rate += requests_per_second(shell(std::string("wrk ") + wrk_args + " -H 'X-Tilla-Token: " + door.token
            + "' -H 'If-None-Match: " + door_etag + "' " + door_url).out);
        nginx_rate += requests_per_second(
            shell(std::string("wrk ") + wrk_args + " -H 'If-None-Match: " + nginx_etag + "' " + nginx_url).out);
    }
    door_rate /= 2;
    nginx_rate /= 2;
    shell("kill $(cat " + dir + "/nginx.pid) 2>/dev/null");
    nginx.stop();
    door.stop();
    shell("rm -rf '" + dir + "'");

    std::printf("door /state 304 under 16 pollers: %.0f requests/s\n", door_rate);
    std::printf("nginx static file 304, Connection: close: %.0f requests/s\n", nginx_rate);
    std::printf("door / nginx: %.2fx (goal: at least 1.00x)\n", nginx_rate > 0 ? door_rate / nginx_rate : 0.0);
    return 0;
}
