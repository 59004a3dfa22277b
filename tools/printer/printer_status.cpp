#include "tools/printer/printer_status.h"

namespace tillbay::printer {

std::optional<PaperReport> paper_report(std::string_view word)
{
    if (word == "ok")
        return PaperReport::Ok;
    if (word == "near-end")
        return PaperReport::NearEnd;
    if (word == "paper-out")
        return PaperReport::PaperOut;
    if (word == "cover-open")
        return PaperReport::CoverOpen;
    if (word == "offline")
        return PaperReport::Offline;
    return std::nullopt;
}

char status_answer(PaperReport report, int n)
{
    // Bits 1 and 4 are always set in a status answer, bits 0 and 7 never.
    unsigned char answer = 0x12;
    bool stopped = report == PaperReport::PaperOut || report == PaperReport::CoverOpen || report == PaperReport::Offline;
    switch (n) {
    case 1: // printer status: bit 3 offline
        if (stopped)
            answer |= 0x08;
        break;
    case 2: // offline cause: bit 2 cover open, bit 5 stopped by paper end, bit 6 error
        if (report == PaperReport::CoverOpen)
            answer |= 0x04;
        if (report == PaperReport::PaperOut)
            answer |= 0x20;
        if (report == PaperReport::Offline)
            answer |= 0x40;
        break;
    case 4: // paper roll sensor: bits 2-3 near end, bits 5-6 paper end
        if (report == PaperReport::NearEnd || report == PaperReport::PaperOut)
            answer |= 0x0C;
        if (report == PaperReport::PaperOut)
            answer |= 0x60;
        break;
    default: // error status: no error
        break;
    }
    return static_cast<char>(answer);
}

} // namespace tillbay::printer
