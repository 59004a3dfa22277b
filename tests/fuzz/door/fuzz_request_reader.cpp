// The door's request reader on hostile bytes: fed whole and in two pieces,
// it must agree with itself, never read past its input, and keep to its limits.

#include "door/http_request.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tillbay::door;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view input(reinterpret_cast<char const*>(data), size);
    ReadOutcome whole = read_request(input, true);
    if (whole.state == ReadOutcome::State::NeedMore)
        std::abort(); // an ended input is always decided
    if (whole.state == ReadOutcome::State::Done) {
        if (whole.request.path.empty() || whole.request.path[0] != '/' || whole.request.body.size() > max_body_bytes)
            std::abort();
        if (whole.request.path.find('?') != std::string::npos)
            std::abort();
    }
    // A prefix is never Done unless the whole is Done with the same request.
    size_t cut = size / 2;
    ReadOutcome part = read_request(input.substr(0, cut), false);
    if (part.state == ReadOutcome::State::Done
        && (whole.state != ReadOutcome::State::Done || part.request.body != whole.request.body
            || part.request.path != whole.request.path))
        std::abort();
    (void)kept_prefix(input);
    return 0;
}
