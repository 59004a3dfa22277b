#pragma once

// WS-Discovery for printers: the Probe the search multicasts and the reader
// of the ProbeMatch answers. The reader is a small bounded XML scanner, not
// a parser: it refuses any document type or entity declaration and any
// entity other than the five predefined ones and character references, and
// gives up on a document larger, deeper or longer than its limits.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tillbay::discovery::wsd {

inline constexpr size_t max_document = 16000;
inline constexpr size_t max_depth = 32;
inline constexpr size_t max_elements = 2048;
inline constexpr size_t max_element_text = 2048;

inline constexpr uint16_t port = 3702;
inline constexpr uint32_t group = 0xEFFFFFFA; // 239.255.255.250

// "urn:uuid:" and a fresh random GUID in upper-case hexadecimal.
std::string new_message_id();

// The SOAP 1.2 Probe for print devices, carrying message_id.
std::string probe(std::string_view message_id);

enum class Verdict {
    Match,    // a ProbeMatch for our probe, of a print device
    NotOurs,  // well-formed, but not a printer's answer to our probe
    Refused,  // a document type, an entity declaration or an unknown entity
    Malformed,
};

// Reads one answer to the probe that carried message_id: a match needs a
// RelatesTo holding message_id, and a ProbeMatch whose Types name
// PrintDevice or PrintBasic (in any namespace prefix).
Verdict read_probe_match(std::string_view document, std::string_view message_id);

} // namespace tillbay::discovery::wsd
