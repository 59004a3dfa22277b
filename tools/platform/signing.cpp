#include "tools/platform/signing.h"

#include "os/fs.h"
#include "tools/platform/pcrypto.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

namespace tillbay::platform {

namespace {

// The PEM text of one private key is far below this.
constexpr size_t k_key_file_limit = 16 * 1024;

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioDeleter>;

} // namespace

void ManifestSigner::KeyDeleter::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }

ManifestSigner::ManifestSigner() = default;
ManifestSigner::~ManifestSigner() = default;

bool ManifestSigner::open(std::string const& data_dir, std::string& error)
{
    std::string key_path = data_dir + "/update-signing.pem";
    if (os::file_exists(key_path)) {
        auto pem = os::read_file(key_path, k_key_file_limit);
        Bio bio(pem.ok() ? BIO_new_mem_buf(pem.value().data(), static_cast<int>(pem.value().size())) : nullptr);
        if (bio)
            m_key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
        if (!m_key || EVP_PKEY_get_base_id(m_key.get()) != EVP_PKEY_ED25519) {
            error = "unreadable " + key_path + " (remove it to make a new signing key)";
            return false;
        }
    } else {
        m_key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
        Bio bio(BIO_new(BIO_s_mem()));
        if (!m_key || !bio || PEM_write_bio_PrivateKey(bio.get(), m_key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
            error = "cannot make the update signing key";
            return false;
        }
        char* data = nullptr;
        long size = BIO_get_mem_data(bio.get(), &data);
        // A new file is written readable by its owner only.
        if (!os::write_file_atomic(key_path, std::string_view(data, static_cast<size_t>(size))).ok()) {
            error = "cannot write " + key_path;
            return false;
        }
    }
    unsigned char raw[32];
    size_t raw_size = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(m_key.get(), raw, &raw_size) != 1 || raw_size != sizeof raw) {
        error = "cannot read the public half of " + key_path;
        return false;
    }
    m_public_hex = hex_encode(std::string_view(reinterpret_cast<char const*>(raw), raw_size));

    m_sequence_path = data_dir + "/update-sequence.json";
    if (os::file_exists(m_sequence_path)) {
        auto text = os::read_file(m_sequence_path, 4096);
        Json j = text.ok() ? Json::parse(text.value(), nullptr, false) : Json();
        if (!j.is_object() || !j.contains("sequence") || !j["sequence"].is_number_unsigned()) {
            error = "unreadable " + m_sequence_path;
            return false;
        }
        m_sequence = j["sequence"].get<uint64_t>();
        m_content = j.value("content", "");
    }
    return true;
}

ManifestSigner::Signed ManifestSigner::sign(Json manifest)
{
    std::lock_guard guard(m_mutex);
    manifest.erase("sequence");
    std::string content = sha256_hex(manifest.dump());
    if (content != m_content) {
        ++m_sequence;
        m_content = content;
        Json record = { { "sequence", m_sequence }, { "content", m_content } };
        // The number is kept before it is served: a restart never reuses it.
        (void)os::write_file_atomic(m_sequence_path, record.dump() + "\n");
    }
    manifest["sequence"] = m_sequence;
    Signed out;
    out.text = manifest.dump();
    out.sequence = m_sequence;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    unsigned char signature[64];
    size_t size = sizeof signature;
    if (ctx && EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, m_key.get()) == 1
        && EVP_DigestSign(ctx.get(), signature, &size, reinterpret_cast<unsigned char const*>(out.text.data()), out.text.size())
            == 1)
        out.signature = hex_encode(std::string_view(reinterpret_cast<char const*>(signature), size));
    return out;
}

} // namespace tillbay::platform
