#pragma once

// Hashes, the owner-message cipher and random bytes. Portable code uses these
// and never an OpenSSL type.

#include "base/result.h"
#include "base/secret.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tillbay::os {

using Sha256 = std::array<uint8_t, 32>;

Sha256 sha256(std::span<uint8_t const> data);
Sha256 sha256(std::string_view data);
// Lower-case hexadecimal, 64 digits.
std::string to_hex(Sha256 const& digest);
std::string sha256_hex(std::string_view data);
// Streams the file in blocks; fails when it cannot be opened or read.
Result<Sha256> sha256_file(std::string const& path);

// AES-256-CBC with PKCS#7 padding. The key must be 32 bytes and the IV 16.
Result<std::string> aes256cbc_encrypt(std::string_view plain, std::string_view key, std::string_view iv);
Result<std::string> aes256cbc_decrypt(std::string_view cipher, std::string_view key, std::string_view iv);

// Ed25519: true only when the 64-byte signature over the message verifies
// under the 32-byte raw public key. Any other size is a failed check.
inline constexpr size_t ed25519_public_key_size = 32;
inline constexpr size_t ed25519_signature_size = 64;
bool ed25519_verify(std::string_view message, std::string_view signature, std::string_view public_key);

// Cryptographically strong random bytes; false only when the system source fails.
bool random_bytes(std::span<uint8_t> out);

} // namespace tillbay::os
