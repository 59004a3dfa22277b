#pragma once

// Real peers for the server link tests: child processes (openssl s_server,
// socat, tillbay-platform) started and stopped by the test, and the
// certificates they present, made with the openssl command line.

#include <string>
#include <thread>
#include <sys/types.h>
#include <vector>

namespace tillbay::peers {

// A temporary folder removed with everything in it when it goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(TempDir const&) = delete;
    TempDir& operator=(TempDir const&) = delete;
    std::string const& path() const { return m_path; }
    std::string file(std::string const& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Runs a shell command, quietly; true when it exited with 0.
bool shell(std::string const& command);

// A child process whose standard output the test reads line by line.
class Child {
public:
    Child() = default;
    ~Child() { stop(); }
    Child(Child const&) = delete;
    Child& operator=(Child const&) = delete;

    bool start(std::vector<std::string> const& argv, std::vector<std::string> const& extra_env = {});
    // Reads lines until one begins with prefix; the line, or "" after timeout_ms.
    std::string wait_for_line(std::string const& prefix, int timeout_ms);
    // From now on the child's output is read and dropped, so that a chatty
    // child never blocks on a full pipe.
    void drain();
    // Ends the child (SIGTERM, then SIGKILL) and reaps it.
    void stop();
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::thread m_drain;
    std::string m_pending;
};

// The port at the end of "... host:PORT".
int port_of(std::string const& line);

// A port that was free a moment ago (for peers that cannot report theirs).
int free_port();

// Certificates for the tests, all EC P-256, under one folder:
// ca.pem (a test CA), leaf.pem/leaf.key ("localhost" and 127.0.0.1, signed
// by the CA), other.pem/other.key (signed by the CA for "other.example"),
// expired.pem/expired.key (signed by the CA, already expired), self.pem/
// self.key (self-signed "localhost", in no trust store).
struct Certificates {
    std::string dir;
    bool make(std::string const& folder);
    std::string pem(std::string const& name) const { return dir + "/" + name + ".pem"; }
    std::string key(std::string const& name) const { return dir + "/" + name + ".key"; }
    // SHA-256 of the DER certificate as "AB:CD:..." (openssl x509 -fingerprint).
    std::string colon_fingerprint(std::string const& name) const;
};

// The reference platform (tillbay-platform) with a POS folder of its making:
// "init" writes tillbay.ini and accounts.json, "serve" listens on free ports.
struct Platform {
    TempDir dir;
    Child child;
    int api_port = 0;
    int control_port = 0;
    std::string pos_dir;  // holds tillbay.ini and accounts.json
    std::string staff_id, staff_password, owner_id, owner_password;
    int storeidx = 0;
    // Added to the serve command line ("--qr-ttl", "2", ...).
    std::vector<std::string> serve_args;

    // The binary under the build folder (TB_BUILD_DIR), or "" when not built.
    static std::string binary();
    bool start(bool plain = false);
    // Points the settings at this POS folder (port included), reads them and
    // configures the transport the way start-up does.
    bool configure_pos();
    // The control interface: GET or POST with a JSON body; the answer's body.
    std::string control(std::string const& method, std::string const& path, std::string const& body = {});
    // Commands the API server received after seq, as "grade useridx command" lines.
    std::vector<std::string> requests_after(long long seq, long long* last_seq = nullptr);
};

} // namespace tillbay::peers
