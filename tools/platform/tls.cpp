#include "tools/platform/tls.h"

#include "os/fs.h"
#include "tools/platform/pcrypto.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <memory>

namespace tillbay::platform {

namespace {

std::string openssl_error()
{
    unsigned long code = ERR_get_error();
    if (code == 0)
        return "unknown OpenSSL error";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

bool fingerprint_of(X509* cert, std::string& out)
{
    unsigned char* der = nullptr;
    int length = i2d_X509(cert, &der);
    if (length <= 0)
        return false;
    out = sha256_hex(std::string_view(reinterpret_cast<char*>(der), static_cast<size_t>(length)));
    OPENSSL_free(der);
    return true;
}

bool add_extension(X509* cert, int nid, char const* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

bool make_certificate(std::string const& cert_path, std::string const& key_path, std::string& error)
{
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    if (!key) {
        error = "key generation failed: " + openssl_error();
        return false;
    }
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    std::string serial = random_hex(8);
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, serial.c_str());
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24 * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<unsigned char const*>("TillBay platform (test)"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<unsigned char const*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    if (!add_extension(cert.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1")
        || !add_extension(cert.get(), NID_basic_constraints, "critical,CA:FALSE")) {
        error = "certificate extension failed: " + openssl_error();
        return false;
    }
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0) {
        error = "certificate signing failed: " + openssl_error();
        return false;
    }

    auto to_pem = [](auto writer) {
        std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
        writer(bio.get());
        char* data = nullptr;
        long length = BIO_get_mem_data(bio.get(), &data);
        return std::string(data, static_cast<size_t>(length));
    };
    std::string key_pem = to_pem([&](BIO* b) { PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
    std::string cert_pem = to_pem([&](BIO* b) { PEM_write_bio_X509(b, cert.get()); });
    // The key goes first: a certificate without its key would be useless and
    // would stop the next start from making a fresh pair.
    if (!os::write_file_atomic(key_path, key_pem).ok() || !os::write_file_atomic(cert_path, cert_pem).ok()) {
        error = "cannot write the certificate files";
        return false;
    }
    return true;
}

} // namespace

bool ensure_certificate(std::string const& data_dir, ServerCertificate& out, std::string& error)
{
    out.cert_path = data_dir + "/cert.pem";
    out.key_path = data_dir + "/key.pem";
    if (!os::file_exists(out.cert_path) || !os::file_exists(out.key_path)) {
        if (!make_certificate(out.cert_path, out.key_path, error))
            return false;
    }
    auto pem = os::read_file(out.cert_path, 64 * 1024);
    if (!pem.ok()) {
        error = "cannot read " + out.cert_path;
        return false;
    }
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.value().data(), static_cast<int>(pem.value().size())), BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
    if (!cert || !fingerprint_of(cert.get(), out.fingerprint)) {
        error = "unreadable certificate " + out.cert_path;
        return false;
    }
    return true;
}

SSL_CTX* make_server_context(ServerCertificate const& cert, std::string& error)
{
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) {
        error = openssl_error();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_AUTO_RETRY);
    if (SSL_CTX_use_certificate_file(ctx, cert.cert_path.c_str(), SSL_FILETYPE_PEM) != 1
        || SSL_CTX_use_PrivateKey_file(ctx, cert.key_path.c_str(), SSL_FILETYPE_PEM) != 1
        || SSL_CTX_check_private_key(ctx) != 1) {
        error = "cannot load the certificate: " + openssl_error();
        SSL_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

std::string colon_fingerprint(std::string const& hex)
{
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        if (!out.empty())
            out += ':';
        out += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i])));
        if (i + 1 < hex.size())
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i + 1])));
    }
    return out;
}

} // namespace tillbay::platform
