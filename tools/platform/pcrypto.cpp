#include "tools/platform/pcrypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>
#include <stdexcept>

namespace tillbay::platform {

namespace {

struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;

std::optional<std::string> aes_run(bool encrypt, std::string_view in, std::string_view key, std::string_view iv)
{
    if (key.size() != 32 || iv.size() != 16)
        return std::nullopt;
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        return std::nullopt;
    auto const* k = reinterpret_cast<unsigned char const*>(key.data());
    auto const* v = reinterpret_cast<unsigned char const*>(iv.data());
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, k, v, encrypt ? 1 : 0) != 1)
        return std::nullopt;
    std::string out(in.size() + 32, '\0');
    int written = 0;
    int tail = 0;
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    if (EVP_CipherUpdate(ctx.get(), o, &written, reinterpret_cast<unsigned char const*>(in.data()), static_cast<int>(in.size())) != 1)
        return std::nullopt;
    if (EVP_CipherFinal_ex(ctx.get(), o + written, &tail) != 1)
        return std::nullopt;
    out.resize(static_cast<size_t>(written + tail));
    return out;
}

constexpr char k_b64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

std::optional<std::string> aes_encrypt(std::string_view plain, std::string_view key, std::string_view iv)
{
    return aes_run(true, plain, key, iv);
}

std::optional<std::string> aes_decrypt(std::string_view cipher, std::string_view key, std::string_view iv)
{
    if (cipher.empty() || cipher.size() % 16 != 0)
        return std::nullopt;
    return aes_run(false, cipher, key, iv);
}

std::string base64_encode(std::string_view data)
{
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    auto byte = [&](size_t n) { return static_cast<uint32_t>(static_cast<unsigned char>(data[n])); };
    for (; i + 3 <= data.size(); i += 3) {
        uint32_t v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        out += k_b64[v >> 18 & 63];
        out += k_b64[v >> 12 & 63];
        out += k_b64[v >> 6 & 63];
        out += k_b64[v & 63];
    }
    size_t rest = data.size() - i;
    if (rest == 1) {
        uint32_t v = byte(i) << 16;
        out += k_b64[v >> 18 & 63];
        out += k_b64[v >> 12 & 63];
        out += "==";
    } else if (rest == 2) {
        uint32_t v = byte(i) << 16 | byte(i + 1) << 8;
        out += k_b64[v >> 18 & 63];
        out += k_b64[v >> 12 & 63];
        out += k_b64[v >> 6 & 63];
        out += '=';
    }
    return out;
}

std::optional<std::string> base64_decode(std::string_view text)
{
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    int pads = 0;
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t')
            continue;
        if (c == '=') {
            ++pads;
            continue;
        }
        if (pads > 0)
            return std::nullopt;
        int value;
        if (c >= 'A' && c <= 'Z')
            value = c - 'A';
        else if (c >= 'a' && c <= 'z')
            value = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            value = c - '0' + 52;
        else if (c == '+')
            value = 62;
        else if (c == '/')
            value = 63;
        else
            return std::nullopt;
        acc = acc << 6 | static_cast<uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>(acc >> bits & 0xff);
        }
    }
    if (pads > 2)
        return std::nullopt;
    return out;
}

std::string hex_encode(std::string_view bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::optional<std::string> hex_decode(std::string_view text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = nibble(text[i]);
        int lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi << 4 | lo);
    }
    return out;
}

std::string sha256_hex(std::string_view data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
    return hex_encode(std::string_view(reinterpret_cast<char*>(digest), length));
}

std::string random_hex(size_t count)
{
    std::string bytes(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count)) != 1)
        throw std::runtime_error("random source failed");
    return hex_encode(bytes);
}

std::string random_token(size_t length)
{
    static constexpr char alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
    std::string bytes(length, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(length)) != 1)
        throw std::runtime_error("random source failed");
    std::string out;
    for (unsigned char c : bytes)
        out += alphabet[c % (sizeof(alphabet) - 1)];
    return out;
}

} // namespace tillbay::platform
