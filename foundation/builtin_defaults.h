#pragma once

// The values the program falls back on when the settings file does not name
// them: the platform's API server and web address, the former test server
// whose certificate the migration pins, and the four client secrets (the API
// and relay headers, the owner sign-in key and IV). The secrets are kept
// scrambled in the binary and rebuilt only when asked for, so that they do
// not show up in a plain string dump of the executable.

#include "os/crypto.h"

#include <string>

namespace tillbay::builtin {

// The platform's API server host name ("SERVER" "host" default).
std::string const& host();
// The platform's web address, a secure web URL ("SERVER" "webhost" default
// when the host is the built-in one).
std::string const& webhost();

// The platform's former test server on the shop LAN, and the SHA-256
// fingerprint (64 lower-case hexadecimal digits) of its certificate.
std::string const& test_server_host();
std::string const& test_server_fingerprint();

// The client header of the API envelope (27 characters).
SecretString server_header();
// The client header of the order push relay (36 characters).
SecretString relay_header();
// The application key (64 hexadecimal digits) and IV (32 hexadecimal digits)
// of the owner sign-in.
SecretString app_key();
SecretString app_iv();

} // namespace tillbay::builtin
