#pragma once

// Recognises how an uploaded text file is encoded and turns it into UTF-8.
// Spreadsheet programs on Korean Windows save CSV in code page 949 by default,
// "CSV UTF-8" with a byte order mark, and "Unicode text" as UTF-16
// little-endian with a byte order mark; other programs write plain UTF-8.

#include "base/result.h"

#include <string>
#include <string_view>

namespace tillbay::store {

enum class Encoding {
    Utf8Bom,    // "utf8-bom": EF BB BF, then valid UTF-8
    Utf16,      // "utf16": FF FE, then UTF-16 little-endian
    Utf8,       // "utf8": valid UTF-8 as a whole
    Cp949,      // "cp949": valid in code page 949 as a whole
    Cp949Loose, // "cp949-loose": code page 949 with a few bytes that are not
};

// The name pages and logs show: "utf8-bom", "utf16", "utf8", "cp949", "cp949-loose".
std::string_view encoding_name(Encoding encoding);
// The name of a failed recognition.
inline constexpr std::string_view unknown_encoding = "unknown";

enum class Leniency {
    Strict, // every byte must belong to the encoding
    Loose,  // also a code page 949 text with a few broken bytes (the product list upload)
};

// The loose reading replaces each byte it cannot read with U+FFFD and is
// accepted only while such bytes stay at most one in this many, so that a file
// in some other encoding is still refused rather than shown as garbage.
inline constexpr size_t loose_bytes_per_replacement = 50;

struct DecodedText {
    std::string text; // UTF-8, without a byte order mark
    Encoding encoding = Encoding::Utf8;
};

// Tries, in order: a UTF-8 byte order mark (the rest must be valid UTF-8), a
// UTF-16 little-endian byte order mark, strict UTF-8, strict code page 949 and,
// when loose, the lenient code page 949 reading. The empty input is "utf8".
// Failure carries the detail "unknown" and no message: each upload shows its
// own text.
Result<DecodedText> decode_text(std::string_view bytes, Leniency leniency = Leniency::Strict);

// Whether decoded text may be taken as a text file: it holds no NUL character
// (spreadsheet and word-processor files decode in code page 949 or as UTF-16
// often enough, but nearly always hold NULs).
bool is_plain_text(std::string_view decoded);

} // namespace tillbay::store
