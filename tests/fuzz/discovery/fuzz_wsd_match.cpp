// The WS-Discovery answer reader on any document: it never reads outside
// it, and a document with a declaration is never taken as a match.

#include "printing/discovery/wsd_message.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tillbay::discovery;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view document(reinterpret_cast<char const*>(data), size);
    auto verdict = wsd::read_probe_match(document, "urn:uuid:0A0B0C0D-0000-4000-8000-000000000001");
    if (verdict == wsd::Verdict::Match
        && (document.find("<!DOCTYPE") != std::string_view::npos || document.find("<!ENTITY") != std::string_view::npos
            || document.size() > wsd::max_document))
        std::abort();
    return 0;
}
