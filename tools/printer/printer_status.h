#pragma once

// The virtual printer's answers to ESC/POS real-time status requests, shared
// by the network side and the tests that play a printer on other lines
// (a serial port).

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tillbay::printer {

// The printer states the status answers can report.
enum class PaperReport {
    Ok,
    NearEnd,
    PaperOut,
    CoverOpen,
    Offline,
};
// "ok", "near-end", "paper-out", "cover-open", "offline"; nothing for any other word.
std::optional<PaperReport> paper_report(std::string_view word);

// The one-byte answer to the real-time status request DLE EOT n (n 1 to 4)
// for a printer in that state.
char status_answer(PaperReport report, int n);

// Takes the real-time status requests (DLE EOT 1-4) out of a stream of
// received bytes as a printer does: each request is answered at once and is
// not part of the printed job. A request cut off at the end of a read is
// held back until the next bytes arrive.
class StatusRequests {
public:
    // The bytes that belong to the job; answer(n) is called for each request.
    template<typename Answer>
    std::string take(std::string_view bytes, Answer&& answer)
    {
        std::string in = m_held + std::string(bytes);
        m_held.clear();
        std::string job;
        job.reserve(in.size());
        for (size_t i = 0; i < in.size(); ++i) {
            if (in[i] != 0x10) {
                job.push_back(in[i]);
                continue;
            }
            if (i + 1 == in.size() || (i + 2 == in.size() && in[i + 1] == 0x04)) {
                m_held = in.substr(i);
                break;
            }
            if (in[i + 1] == 0x04 && in[i + 2] >= 1 && in[i + 2] <= 4) {
                answer(static_cast<int>(in[i + 2]));
                i += 2;
                continue;
            }
            job.push_back(in[i]);
        }
        return job;
    }
    // Bytes held back at the end of the connection belong to the job.
    std::string release() { return std::exchange(m_held, {}); }

private:
    std::string m_held;
};

} // namespace tillbay::printer
