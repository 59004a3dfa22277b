#pragma once

// What both door suites set up around the program: the door switched on in
// the installation's settings before the program starts, and the pairing key
// the program writes there once the door is open.

#include "e2e_fixture.h"

#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <string>

namespace e2e {

// Switches the door on at a free loopback port; the port.
inline int switch_door_on(Installation const& at)
{
    int port = free_port();
    std::ofstream ini(at.pos + "/tillbay.ini", std::ios::app);
    ini << "\r\n[TABLET]\r\non=1\r\nport=" << port << "\r\n";
    return port;
}

// The door's pairing key from tillbay.ini; a fatal failure when there is none.
inline void read_door_token(Installation const& at, std::string& token)
{
    std::smatch m;
    std::string ini = read_text(at.pos + "/tillbay.ini");
    ASSERT_TRUE(std::regex_search(ini, m, std::regex("token=([A-Z2-9]{12})"))) << ini;
    token = m[1];
}

} // namespace e2e
