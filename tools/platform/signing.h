#pragma once

// The key that signs the version manifest. Made once per data folder (an
// Ed25519 private key in DATA/update-signing.pem, readable by its owner
// only); `init` writes its public key into the POS's settings. Every
// manifest the web host serves carries a "sequence" number that grows
// whenever the manifest's content changes and never goes back, also across
// restarts (DATA/update-sequence.json), so a POS can tell an older signed
// manifest from the current one.

#include "tools/platform/db.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

typedef struct evp_pkey_st EVP_PKEY;

namespace tillbay::platform {

class ManifestSigner {
public:
    ManifestSigner();
    ~ManifestSigner();

    bool open(std::string const& data_dir, std::string& error);
    // The raw public key as 64 lower-case hexadecimal digits.
    std::string public_key_hex() const { return m_public_hex; }

    struct Signed {
        std::string text;      // the manifest as served
        std::string signature; // 128 lower-case hexadecimal digits
        uint64_t sequence = 0;
    };
    // Adds the sequence to the manifest, serialises it and signs the bytes.
    Signed sign(Json manifest);

private:
    struct KeyDeleter {
        void operator()(EVP_PKEY* key) const;
    };
    std::unique_ptr<EVP_PKEY, KeyDeleter> m_key;
    std::string m_public_hex;
    std::string m_sequence_path;
    std::mutex m_mutex;
    uint64_t m_sequence = 0;
    std::string m_content; // SHA-256 of the last signed content, without its sequence
};

} // namespace tillbay::platform
