#ifndef SKARN_TEST_CERTIFICATES_H
#define SKARN_TEST_CERTIFICATES_H

#include <string>

// Certificates for TLS tests, made at run time with the OpenSSL API (EC P-256)
// in a fresh temporary folder that is removed when the program ends:
//   caFile        the test CA (PEM)
//   otherCaFile   a second, unrelated CA
//   serverCert/serverKey  signed by the test CA for DNS localhost, IP 127.0.0.1 and ::1
//   otherCert/otherKey    signed by the test CA for DNS other.skarn.test only
struct TestCertificates {
    std::string dir;
    std::string caFile;
    std::string otherCaFile;
    std::string serverCert;
    std::string serverKey;
    std::string otherCert;
    std::string otherKey;

    // The set of this process, made on first use.
    static const TestCertificates& get();
};

// "<sessionConfigDocument>" + inner + "</sessionConfigDocument>"
std::string sessionDocument(const std::string& inner);
// A listener's document: TLS forced, with this certificate and key, then `extra`.
std::string tlsListenerDocument(const std::string& cert, const std::string& key, const std::string& extra = "");
// A client's document: TLS forced, trusting the test CA, then `extra` (a later element wins).
std::string tlsClientDocument(const std::string& extra = "");

#endif
