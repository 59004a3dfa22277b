#pragma once

// The server certificate: a self-signed one made on first start and kept in
// the data folder, so that its fingerprint stays the same across restarts and
// a POS can pin it.

#include <string>

typedef struct ssl_ctx_st SSL_CTX;

namespace tillbay::platform {

struct ServerCertificate {
    std::string cert_path;
    std::string key_path;
    // SHA-256 over the DER form, 64 lower-case hexadecimal digits.
    std::string fingerprint;
};

// Loads DIR/cert.pem and DIR/key.pem, or makes and writes them when missing.
bool ensure_certificate(std::string const& data_dir, ServerCertificate& out, std::string& error);

// A server context that speaks TLS 1.2 only, with the certificate loaded.
SSL_CTX* make_server_context(ServerCertificate const& cert, std::string& error);

// "AB:CD:..." form of a 64-digit fingerprint, as people read it.
std::string colon_fingerprint(std::string const& hex);

} // namespace tillbay::platform
