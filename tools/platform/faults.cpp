#include "tools/platform/faults.h"

#include <chrono>
#include <thread>

namespace tillbay::platform {

bool play_connection_fault(Conn& conn, Fault const& fault, std::string_view garbage)
{
    switch (fault.kind) {
    case FaultKind::Late:
        std::this_thread::sleep_for(std::chrono::milliseconds(fault.delay_ms));
        return true;
    case FaultKind::Silent:
        conn.wait_readable(30000);
        return false;
    case FaultKind::Close:
        return false;
    case FaultKind::Garbage:
        conn.write_all(garbage);
        return false;
    case FaultKind::Refuse:
    case FaultKind::BadByte:
        return true;
    }
    return true;
}

} // namespace tillbay::platform
