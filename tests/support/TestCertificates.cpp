#include "support/TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {

EVP_PKEY* newKey()
{
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key)
        throw std::runtime_error("cannot make a test key");
    return key;
}

void addExt(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        throw std::runtime_error("cannot make a test certificate extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// A certificate for `key` named `cn`; self-signed when `issuer` is null.
X509* makeCert(EVP_PKEY* key, const char* cn, X509* issuer, EVP_PKEY* issuerKey, const char* san, long serial)
{
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 2L * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Skarn tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
    X509* signer = issuer ? issuer : cert;
    if (!issuer) {
        addExt(cert, signer, NID_basic_constraints, "critical,CA:TRUE");
        addExt(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
        addExt(cert, signer, NID_subject_key_identifier, "hash");
    } else {
        addExt(cert, signer, NID_basic_constraints, "critical,CA:FALSE");
        addExt(cert, signer, NID_key_usage, "critical,digitalSignature");
        addExt(cert, signer, NID_ext_key_usage, "serverAuth,clientAuth");
        addExt(cert, signer, NID_subject_alt_name, san);
        addExt(cert, signer, NID_authority_key_identifier, "keyid");
    }
    if (!X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256()))
        throw std::runtime_error("cannot sign a test certificate");
    return cert;
}

// Writes the certificate, or the key when `cert` is null, as PEM; the path.
std::string writePem(const std::string& path, X509* cert, EVP_PKEY* key)
{
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f || !(cert ? PEM_write_X509(f, cert) : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr)))
        throw std::runtime_error("cannot write " + path);
    std::fclose(f);
    return path;
}

struct Holder {
    TestCertificates certs;
    Holder()
    {
        char tmpl[] = "/tmp/skarn-certs-XXXXXX";
        if (!mkdtemp(tmpl))
            throw std::runtime_error("cannot make a folder for test certificates");
        certs.dir = tmpl;
        const std::string d = certs.dir + "/";
        EVP_PKEY* caKey = newKey();
        X509* ca = makeCert(caKey, "Skarn test CA", nullptr, nullptr, nullptr, 1);
        EVP_PKEY* otherCaKey = newKey();
        X509* otherCa = makeCert(otherCaKey, "Skarn other CA", nullptr, nullptr, nullptr, 2);
        EVP_PKEY* serverKey = newKey();
        X509* server = makeCert(serverKey, "localhost", ca, caKey, "DNS:localhost,IP:127.0.0.1,IP:::1", 10);
        EVP_PKEY* otherKey = newKey();
        X509* other = makeCert(otherKey, "other.skarn.test", ca, caKey, "DNS:other.skarn.test", 11);
        certs.caFile = writePem(d + "ca.pem", ca, nullptr);
        certs.otherCaFile = writePem(d + "other-ca.pem", otherCa, nullptr);
        certs.serverCert = writePem(d + "server.pem", server, nullptr);
        certs.serverKey = writePem(d + "server-key.pem", nullptr, serverKey);
        certs.otherCert = writePem(d + "other.pem", other, nullptr);
        certs.otherKey = writePem(d + "other-key.pem", nullptr, otherKey);
        for (X509* c : {ca, otherCa, server, other})
            X509_free(c);
        for (EVP_PKEY* k : {caKey, otherCaKey, serverKey, otherKey})
            EVP_PKEY_free(k);
    }
    ~Holder()
    {
        std::error_code ec;
        std::filesystem::remove_all(certs.dir, ec);
    }
};

}  // namespace

const TestCertificates& TestCertificates::get()
{
    static Holder holder;
    return holder.certs;
}

std::string sessionDocument(const std::string& inner)
{
    return "<sessionConfigDocument>" + inner + "</sessionConfigDocument>";
}

std::string tlsListenerDocument(const std::string& cert, const std::string& key, const std::string& extra)
{
    return sessionDocument("<serviceID>test</serviceID><forceSSLStatus>ON</forceSSLStatus><certificateFile>" + cert +
                           "</certificateFile><privateKeyFile>" + key + "</privateKeyFile>" + extra);
}

std::string tlsClientDocument(const std::string& extra)
{
    return sessionDocument("<forceSSLStatus>ON</forceSSLStatus><caFile>" + TestCertificates::get().caFile +
                           "</caFile>" + extra);
}
