#pragma once

// Decodes an ESC/POS byte stream the way a receipt printer reads it: text in
// the printer's code page (949 by default) becomes UTF-8, and every command
// becomes an event with a readable tag. Bytes the decoder does not know are
// kept as hex tags and decoding carries on after them, so a damaged or hostile
// job always yields a complete, readable result.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::printer {

// Longest job the decoder is asked to read; the server and the dump reader
// refuse anything larger before it gets here.
inline constexpr size_t max_job_bytes = 16 * 1024 * 1024;

enum class EventKind {
    Text,        // text: UTF-8
    Newline,     // LF: print the line and feed one line
    Tab,         // HT
    Initialise,  // ESC @
    Align,       // n1: 0 left, 1 center, 2 right
    PrintMode,   // ESC !: n1 the mode byte
    CharSize,    // GS !: n1 width, n2 height (1-8)
    Bold,        // n1: 0 or 1
    Underline,   // n1: 0, 1 or 2 dots
    Reverse,     // GS B: n1 0 or 1
    LineSpacing, // n1: dots, or -1 for the default
    FeedLines,   // ESC d: n1 lines
    FeedDots,    // ESC J: n1 dots
    Cut,         // n1: 1 partial, 0 full; n2: dots fed before the cut
    DrawerPulse, // n1: pin (2 or 5), n2: on time in ms, n3: off time in ms
    QrCode,      // text: the stored QR data, printed
    Barcode,     // text: the barcode data
    Image,       // n1 width, n2 height in dots
    Setting,     // any other known command: not visible on paper
    Hex,         // unknown or incomplete bytes, and text bytes not valid in the code page
};

struct Event {
    EventKind kind = EventKind::Setting;
    int n1 = 0;
    int n2 = 0;
    int n3 = 0;
    std::string text; // UTF-8 for Text, QR and barcode data
    std::string tag;  // the readable tag, without brackets (empty for Text, Newline and Tab)
};

struct DecodeOptions {
    // iconv name of the printer's code page.
    std::string encoding = "CP949";
};

std::vector<Event> decode(std::string_view bytes, DecodeOptions const& options = {});

// The decoded job as text: printed text as it is, a newline for every line
// feed, every command as "[tag]" where it occurs (a cut also ends the line).
std::string render_text(std::vector<Event> const& events);

struct HtmlOptions {
    std::string title = "영수증 미리보기";
    // Characters per line of font A: 48 on 80 mm paper, 32 on 58 mm.
    int columns = 48;
};

// A paper-receipt preview: a narrow paper-coloured column in a monospace font,
// with alignment, character sizes and bold applied, cuts drawn as tear lines
// and drawer pulses as small notes beside the paper.
std::string render_html(std::vector<Event> const& events, HtmlOptions const& options = {});

// Display columns of a UTF-8 text: characters from U+1100 up count two.
size_t display_width(std::string_view utf8);

} // namespace tillbay::printer
