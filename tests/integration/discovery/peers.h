#pragma once

// The real peers of the printer search tests, each started inside one host
// of the test LAN: avahi-daemon, snmpd, tillbay-printer, a plain TCP
// listener, the WS-Discovery responder and a private cupsd.

#include "tests/integration/discovery/lan_fixture.h"

#include <string>
#include <vector>

namespace tillbay::test {

// Waits until the file holds the text (or timeout_ms passes).
bool wait_for_text(std::string const& path, std::string const& text, int timeout_ms = 10000);

// avahi-daemon publishing one service group (an avahi .service file body)
// on the host, with its own host name; runs in a private mount namespace so
// that its run-time files and service folder are its own.
Process start_avahi(Lan& lan, std::string const& ns, std::string const& host_name, std::string const& service_xml);

// snmpd answering sysDescr with the text, community "public", on address:161.
Process start_snmpd(Lan& lan, std::string const& ns, std::string const& address, std::string const& description);

// tillbay-printer listening on address:9100.
Process start_printer(Lan& lan, std::string const& ns, std::string const& address);

// socat accepting and dropping connections on address:port.
Process start_listener(Lan& lan, std::string const& ns, std::string const& address, int port);

Process start_wsd_responder(Lan& lan, std::string const& ns, std::string const& address, bool doctype);

// A private cupsd with a domain socket only; returns the socket path in *socket.
Process start_cupsd(Lan& lan, std::string const& ns, std::string* socket);
// Adds a raw queue to the private cupsd.
bool add_raw_queue(Lan& lan, std::string const& ns, std::string const& socket, std::string const& name,
    std::string const& device_uri);

} // namespace tillbay::test
