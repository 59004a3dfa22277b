#include "update/signature.h"

#include "base/ascii.h"
#include "os/crypto.h"
#include "os/fs.h"

#include <charconv>

namespace tillbay::update {

namespace {

constexpr std::string_view blanks = " \t\r\n";

std::string_view trimmed(std::string_view text)
{
    auto start = text.find_first_not_of(blanks);
    if (start == std::string_view::npos)
        return {};
    auto end = text.find_last_not_of(blanks);
    return text.substr(start, end - start + 1);
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<uint64_t> parse_number(std::string_view digits)
{
    if (digits.empty() || digits.size() > max_sequence_digits)
        return std::nullopt;
    uint64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

// The key text as stored beside the sequence: lower-case, no blanks.
std::string key_tag(std::string_view configured_key) { return ascii::lowered(trimmed(configured_key)); }

} // namespace

std::optional<uint64_t> scan_sequence(std::string_view text)
{
    constexpr std::string_view key = "\"sequence\"";
    auto at = text.find(key);
    if (at == std::string_view::npos)
        return std::nullopt;
    size_t i = at + key.size();
    while (i < text.size() && (text[i] == ' ' || text[i] == ':' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
        ++i;
    size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i;
    // The number must end the value: "12x" or "12.5" is not a sequence.
    if (i < text.size() && text[i] != ',' && text[i] != '}' && blanks.find(text[i]) == std::string_view::npos)
        return std::nullopt;
    return parse_number(text.substr(start, i - start));
}

std::optional<std::string> decode_hex(std::string_view text)
{
    text = trimmed(text);
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int high = hex_value(text[i]);
        int low = hex_value(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
    }
    return out;
}

Result<SignedManifest> check_signed_manifest(std::string_view manifest_text,
    std::optional<std::string_view> signature_text, std::string_view configured_key, uint64_t last_sequence)
{
    auto key = decode_hex(configured_key);
    if (!key || key->size() != os::ed25519_public_key_size)
        return Error::with_message(text::signing_key_broken, "UPDATE/pubkey is not 64 hexadecimal digits");
    if (!signature_text || trimmed(*signature_text).empty())
        return Error::with_message(text::signature_missing, "no version.json.sig on the web host");
    auto signature = decode_hex(*signature_text);
    if (!signature || signature->size() != os::ed25519_signature_size)
        return Error::with_message(text::signature_bad, "version.json.sig is not 128 hexadecimal digits");
    if (!os::ed25519_verify(manifest_text, *signature, *key))
        return Error::with_message(text::signature_bad, "the signature does not verify under UPDATE/pubkey");
    // A signed manifest without a sequence cannot be ordered against the
    // ones accepted before it.
    auto sequence = scan_sequence(manifest_text);
    if (!sequence)
        return Error::with_message(text::signature_bad, "the signed manifest has no sequence number");
    if (*sequence < last_sequence)
        return Error::with_message(text::signature_replayed,
            "sequence " + std::to_string(*sequence) + " is below the accepted " + std::to_string(last_sequence));
    return SignedManifest { *sequence };
}

uint64_t read_last_sequence(std::string const& path, std::string_view configured_key)
{
    if (path.empty())
        return 0;
    auto content = os::read_file(path, 256);
    if (!content.ok())
        return 0;
    std::string_view text = trimmed(content.value());
    auto space = text.find(' ');
    if (space == std::string_view::npos || text.substr(0, space) != key_tag(configured_key))
        return 0;
    return parse_number(text.substr(space + 1)).value_or(0);
}

Status write_last_sequence(std::string const& path, std::string_view configured_key, uint64_t sequence)
{
    if (path.empty())
        return Error::from_detail("no per-user folder for the update sequence");
    return os::write_file_atomic(path, key_tag(configured_key) + " " + std::to_string(sequence) + "\n");
}

} // namespace tillbay::update
