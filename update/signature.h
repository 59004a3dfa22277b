#pragma once

// Signed version manifests. When the settings name the update's public key
// (UPDATE/pubkey, 64 hexadecimal digits of a raw Ed25519 key), a manifest
// from the web host counts only when the signature served beside it
// ("version.json.sig", 128 hexadecimal digits) verifies over its exact bytes
// and its "sequence" number is not below the last one this user accepted.
// That number is kept in the per-user folder, so an older signed manifest
// replayed by whoever controls the web host is refused like a forged one.

#include "base/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::update {

inline constexpr char const* signature_path = "/v2/pos/version.json.sig";
// The signature file is 128 digits; a little room for a line end and blanks.
inline constexpr size_t max_signature_text = 256;
inline constexpr char const* sequence_file_name = "update-sequence.txt";
// A sequence number has at most this many digits.
inline constexpr size_t max_sequence_digits = 18;

namespace text {
inline constexpr char const* signature_missing = "갱신 목록에 서명이 없어 받지 않았습니다 — 지금 판을 그대로 씁니다";
inline constexpr char const* signature_bad = "갱신 목록의 서명이 맞지 않아 받지 않았습니다 — 지금 판을 그대로 씁니다";
inline constexpr char const* signature_replayed = "이미 받은 것보다 오래된 갱신 목록이라 받지 않았습니다 — 지금 판을 그대로 씁니다";
inline constexpr char const* signing_key_broken = "갱신 서명 키 설정이 올바르지 않아 갱신을 받지 않았습니다";
} // namespace text

// The update state a refused signature reports. It does not hold sign-in:
// the program and the screens in use stay as they are.
inline constexpr char const* signature_state = "sign-fail";

// The "sequence" number of a manifest: digits after the key, ":" and blanks;
// nullopt when missing or malformed.
std::optional<uint64_t> scan_sequence(std::string_view manifest_text);

// Decodes hexadecimal digits of either case; nullopt on an odd length or a
// non-hexadecimal character. Blanks and line ends around the text are ignored.
std::optional<std::string> decode_hex(std::string_view text);

struct SignedManifest {
    uint64_t sequence = 0;
};

// Checks a manifest against the configured key (as written in the settings)
// and the last accepted sequence. signature_text is nullopt when the web host
// served none. Errors carry the user's text.
Result<SignedManifest> check_signed_manifest(std::string_view manifest_text,
    std::optional<std::string_view> signature_text, std::string_view configured_key, uint64_t last_sequence);

// The last accepted sequence for this key, kept in the per-user file at path
// ("<key hex> <sequence>"); 0 when none was accepted under this key.
uint64_t read_last_sequence(std::string const& path, std::string_view configured_key);
Status write_last_sequence(std::string const& path, std::string_view configured_key, uint64_t sequence);

} // namespace tillbay::update
