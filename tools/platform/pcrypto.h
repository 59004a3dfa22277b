#pragma once

// The platform's own cryptography, on OpenSSL EVP directly: it must not share
// code with the POS it serves, or a bug on one side would hide on the other.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::platform {

// AES-256-CBC with PKCS#7 padding; key 32 bytes, IV 16 bytes. Empty optional on failure.
std::optional<std::string> aes_encrypt(std::string_view plain, std::string_view key, std::string_view iv);
std::optional<std::string> aes_decrypt(std::string_view cipher, std::string_view key, std::string_view iv);

// Standard alphabet with '=' padding, no line breaks.
std::string base64_encode(std::string_view data);
// Skips CR, LF, blanks and tabs; fails on any other byte outside the alphabet.
std::optional<std::string> base64_decode(std::string_view text);

std::string hex_encode(std::string_view bytes);
// Either case; fails on an odd length or a non-hexadecimal character.
std::optional<std::string> hex_decode(std::string_view text);

std::string sha256_hex(std::string_view data);
// Random bytes as lower-case hexadecimal (2 × count digits).
std::string random_hex(size_t count);
// Random text of letters and digits, for the client headers.
std::string random_token(size_t length);

} // namespace tillbay::platform
