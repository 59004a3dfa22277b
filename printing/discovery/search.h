#pragma once

// One printer search, from start to its final answer, on the calling
// thread: the PC's local networks, the printer queues that already point at
// LAN addresses, the announcement probes, the TCP scan and the SNMP names.
// Progress answers go to the progress function at most once every
// progress_interval; the final answer is the return value.

#include "base/result.h"
#include "os/discovery_lan.h"
#include "printing/discovery/queue_pointer.h"
#include "printing/discovery/search_result.h"
#include "printing/discovery/search_state.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace tillbay::discovery {

inline constexpr char const* search_start_failed_text = "네트워크 검색을 시작하지 못했습니다";
inline constexpr char const* no_lan_text = "연결된 매장 LAN을 찾지 못했습니다. 유선 연결이나 Wi-Fi를 확인하세요.";
inline constexpr char const* search_failed_text
    = "검색 중 오류가 발생했습니다. 연결 정보를 직접 입력하거나 다시 검색하세요.";

// What the search asks of the machine. Tests replace single parts.
struct SearchMachine {
    std::function<Result<std::vector<os::lan::Interface>>()> interfaces;
    std::function<Result<std::vector<os::lan::Neighbour>>()> neighbours;
    // The queues on this PC that send to an IPv4 address.
    std::function<std::vector<QueuePointer>()> queue_pointers;
};

// The machine as the program sees it (no queue pointers: the caller adds
// them from its printer listing).
SearchMachine system_machine();

struct SearchRequest {
    std::string id;
    std::string target;
};

SearchResult run_search(SearchRequest const& request, SearchMachine const& machine, SearchLimits const& limits,
    std::atomic<bool> const& cancel, std::function<void(SearchResult const&)> const& progress);

} // namespace tillbay::discovery
