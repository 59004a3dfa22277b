#include "os/crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace tillbay::os {

Sha256 sha256(std::span<uint8_t const> data)
{
    Sha256 digest {};
    SHA256(data.data(), data.size(), digest.data());
    return digest;
}

Sha256 sha256(std::string_view data)
{
    return sha256(std::span<uint8_t const>(reinterpret_cast<uint8_t const*>(data.data()), data.size()));
}

std::string to_hex(Sha256 const& digest)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(64);
    for (uint8_t byte : digest) {
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 15]);
    }
    return hex;
}

std::string sha256_hex(std::string_view data) { return to_hex(sha256(data)); }

namespace {
struct MdCtxDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
}

Result<Sha256> sha256_file(std::string const& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Error::from_detail("open " + path + ": " + std::strerror(errno), errno);
    std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
        ::close(fd);
        return Error::from_detail("sha256 init failed");
    }
    static constexpr size_t block = 256 * 1024;
    auto buffer = std::make_unique<uint8_t[]>(block);
    for (;;) {
        ssize_t n = ::read(fd, buffer.get(), block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int saved = errno;
            ::close(fd);
            return Error::from_detail("read " + path + ": " + std::strerror(saved), saved);
        }
        if (n == 0)
            break;
        EVP_DigestUpdate(ctx.get(), buffer.get(), static_cast<size_t>(n));
    }
    ::close(fd);
    Sha256 digest {};
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx.get(), digest.data(), &length);
    return digest;
}

static Result<std::string> aes256cbc(std::string_view input, std::string_view key, std::string_view iv, bool encrypt)
{
    if (key.size() != 32 || iv.size() != 16)
        return Error::from_detail("aes-256-cbc needs a 32-byte key and a 16-byte iv");
    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        return Error::from_detail("cipher context");
    auto const* k = reinterpret_cast<unsigned char const*>(key.data());
    auto const* v = reinterpret_cast<unsigned char const*>(iv.data());
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, k, v, encrypt ? 1 : 0) != 1)
        return Error::from_detail("cipher init");
    std::string out(input.size() + 32, '\0');
    int written = 0;
    int final_bytes = 0;
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    if (EVP_CipherUpdate(ctx.get(), o, &written, reinterpret_cast<unsigned char const*>(input.data()),
            static_cast<int>(input.size()))
            != 1
        || EVP_CipherFinal_ex(ctx.get(), o + written, &final_bytes) != 1) {
        wipe(out);
        return Error::from_detail(encrypt ? "aes encrypt failed" : "aes decrypt failed (bad key or padding)");
    }
    // Wipe the tail that held scratch bytes before shrinking.
    size_t used = static_cast<size_t>(written + final_bytes);
    OPENSSL_cleanse(out.data() + used, out.size() - used);
    out.resize(used);
    return out;
}

Result<std::string> aes256cbc_encrypt(std::string_view plain, std::string_view key, std::string_view iv)
{
    return aes256cbc(plain, key, iv, true);
}

Result<std::string> aes256cbc_decrypt(std::string_view cipher, std::string_view key, std::string_view iv)
{
    return aes256cbc(cipher, key, iv, false);
}

bool random_bytes(std::span<uint8_t> out)
{
    return RAND_bytes(out.data(), static_cast<int>(out.size())) == 1;
}


bool ed25519_verify(std::string_view message, std::string_view signature, std::string_view public_key)
{
    if (signature.size() != ed25519_signature_size || public_key.size() != ed25519_public_key_size)
        return false;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
            reinterpret_cast<unsigned char const*>(public_key.data()), public_key.size()),
        EVP_PKEY_free);
    if (!key)
        return false;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    // Ed25519 signs the message itself: no digest is named.
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(ctx.get(), reinterpret_cast<unsigned char const*>(signature.data()), signature.size(),
               reinterpret_cast<unsigned char const*>(message.data()), message.size())
        == 1;
}

} // namespace tillbay::os
