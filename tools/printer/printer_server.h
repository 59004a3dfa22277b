#pragma once

// The virtual printer's network side: a TCP listener that stores every job
// it receives in a folder, as the raw bytes and as decoded text and HTML.
// A job ends when the client closes its sending side, or after a pause in
// which no byte arrives (the connection may stay open; later bytes start a
// new job). Fault modes let tests see how the POS copes with a printer that
// refuses connections, stops reading, or drops the connection.

#include "base/result.h"
#include "tools/printer/printer_status.h"

#include <string>
#include <string_view>

namespace tillbay::printer {

struct ServerOptions {
    std::string bind_address = "127.0.0.1";
    int port = 9100;                  // 0: any free port, printed on start
    std::string jobs_dir = "jobs";
    bool refuse = false;              // bind the port but never accept: connections are refused
    long long stop_after = -1;        // stop reading after this many bytes of a connection
    long long close_early = -1;       // reset the connection after this many bytes
    int idle_ms = 5000;               // a pause this long ends the job
    int hold_ms = 30000;              // how long a connection that is no longer read stays open
    int columns = 48;                 // characters per line of the HTML preview
    std::string encoding = "CP949";
    std::string report = "ok";        // what status requests are answered with (see paper_report)
    std::string report_file;          // when set, its first word overrides report at every request
};

// Stores decoded jobs as NNNN.bin, NNNN.txt and NNNN.html in one folder,
// numbered on from the highest number already there. The .bin file is
// written last, so its presence means the job is complete.
class JobStore {
public:
    static Result<JobStore> create(std::string dir, std::string encoding, int columns);

    Result<int> store(std::string_view bytes);
    std::string const& dir() const { return m_dir; }

private:
    JobStore(std::string dir, std::string encoding, int columns, int next)
        : m_dir(std::move(dir))
        , m_encoding(std::move(encoding))
        , m_columns(columns)
        , m_next(next)
    {
    }

    std::string m_dir;
    std::string m_encoding;
    int m_columns = 48;
    int m_next = 1;
};

// "0007" for job 7.
std::string job_name(int number);

// Runs until SIGTERM or SIGINT. Prints "listening on ADDR:PORT" once the
// socket is ready and one line per stored job. Returns the exit status.
int run_server(ServerOptions const& options);

} // namespace tillbay::printer
