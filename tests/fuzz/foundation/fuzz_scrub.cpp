// Feeds arbitrary bytes to the scrubbing rules, as a message and as the
// content of an old log file. Scrubbing must never crash, must be a fixed
// point (scrubbing its own output changes nothing, so rescrubbing old logs is
// safe to repeat), and the rescrub must keep every line it does not change.

#include "foundation/log.h"
#include "foundation/log_internal.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

using namespace tillbay;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

size_t count_lines(std::string_view text)
{
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

// Random bytes rarely spell a command name or a callback prefix; the first
// byte picks one to put in front of the rest, so every kind of rule is hit.
constexpr std::string_view starts[] = {
    "",
    "login</>",
    "setpin</>",
    "mallshipcsv</>",
    "savedelivery</>",
    "window.setOwnerAuth&&setOwnerAuth(",
    "window.setOrderList&&setOrderList(",
    "window.setReceiptView&&setReceiptView(",
    "window.setMerchState&&setMerchState(",
    "window.setTodaySummary&&setTodaySummary(",
    "09:00:00.000 JS>> login</>",
    "09:00:00.000 <<UI window.setOrderList&&setOrderList(",
    "09:00:00.000 <<UI window.setMerchState&&setMerchState(",
};

void check_scrub(std::string_view input)
{
    auto once = log::scrub(input);
    check(log::scrub(once) == once);

    auto first = log::detail::rescrub_text(input);
    check(count_lines(first.content) == count_lines(input));
    check((first.changed_lines == 0) == (first.content == input));
    auto second = log::detail::rescrub_text(first.content);
    check(second.changed_lines == 0);
    check(second.content == first.content);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view input(reinterpret_cast<char const*>(data), size);
    check_scrub(input);
    if (!input.empty()) {
        auto start = starts[static_cast<unsigned char>(input[0]) % std::size(starts)];
        check_scrub(std::string(start) + std::string(input.substr(1)));
    }
    return 0;
}
