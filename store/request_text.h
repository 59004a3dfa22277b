#pragma once

// The command texts of the store-management requests: "cmd=34&storeidx=7&
// ctname=..." filled from a pattern and the page's arguments. A value goes
// into the text only in a form that cannot cut the text or add a parameter:
// "&", "=", "%", "+" and line breaks are sent percent-encoded (the platform
// decodes form values as a web server does), other control bytes are refused.
//
// Pattern placeholders:
//   {s}   the signed-in store's number (never taken from the page)
//   {N}   argument N (1-9) as text, encoded as above
//   {#N}  argument N as a number: 1 to 12 digits, else refused
//   {%N}  argument N with every byte percent-encoded (%XX)
//   {~N}  argument N as the page already encoded it (encodeURIComponent):
//         its %XX escapes are kept, anything unsafe is encoded
//   {*N}  argument N and every field after it, joined back with the field
//         separator: free text that may itself hold "</>"

#include "base/result.h"
#include "base/secret.h"
#include "bridge/family.h"

#include <string>
#include <string_view>

namespace tillbay::store {

inline constexpr char const* text_bad_value = "입력값에 쓸 수 없는 글자(제어 문자)가 있습니다";
inline constexpr char const* text_bad_number = "입력값이 올바르지 않습니다";
inline constexpr char const* text_too_long = "입력한 내용이 너무 깁니다 — 줄여서 다시 해 주세요";

enum class ValueEncoding {
    Safe,       // only the bytes that could change the request's shape
    EveryByte,  // "%%%02X" for every byte
    PageEncoded // already percent-encoded by the page
};

// One value as it goes into a request, or the user's message.
Result<std::string> encode_value(std::string_view value, ValueEncoding encoding);

// True for 1 to 12 ASCII digits.
bool is_digits(std::string_view text, size_t max_digits = 12);

// The pattern filled for the command. The result is kept in a SecretString:
// owner command texts may hold passwords.
Result<SecretString> fill_request(std::string_view pattern, bridge::Command const& command, int storeidx);

} // namespace tillbay::store
