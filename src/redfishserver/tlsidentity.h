// The certificate and key the server presents over TLS, and the checks and
// requests around replacing them: OpenSSL 3 only, no platform calls.
//
// The engine reads server.pem once, when it starts. A certificate installed
// later is put into service through a certificate callback on the engine's
// TLS context: each new handshake takes the identity current at that moment
// from an atomically swapped holder, so connections already open keep theirs
// and nothing restarts.
#ifndef TOLVANE_TLSIDENTITY_H
#define TOLVANE_TLSIDENTITY_H

#include <memory>
#include <string>
#include <vector>

#include "jsonadapter.h"

// One certificate (with its chain) and its private key.
struct TlsIdentity;

// What the Certificate resource shows of a certificate.
struct CertificateFacts {
    std::string pem; // the certificate itself, PEM
    json::Value subject = json::Value::object();
    json::Value issuer = json::Value::object();
    std::string validNotBefore, validNotAfter; // ISO 8601, UTC
    std::vector<std::string> keyUsage;         // Redfish KeyUsage names
    std::string fingerprint;                   // SHA-256, "AB:CD:..."
    std::string serialNumber;                  // "01:AB:..."
    std::string signatureAlgorithm;            // dotted OID
};

// For the engine's init_ssl callback: installs the certificate callback on
// the TLS context `sslCtx`, notes server.pem as it is now and returns 0, so
// the engine still loads server.pem itself as the identity until another is
// put into service.
int installTlsIdentityCallback(void* sslCtx, void* userData);

// The identity new connections get: the one put into service last, else the
// one the engine read at its start. Null when there is none (plain HTTP).
std::shared_ptr<const TlsIdentity> currentTlsIdentity();
CertificateFacts factsOf(const TlsIdentity& identity);

// Puts `identity` into service for every later handshake.
void putInService(std::shared_ptr<const TlsIdentity> identity);

// A certificate signing request's subject and key, as GenerateCSR names them.
struct CsrParameters {
    std::vector<std::pair<const char*, std::string>> subject; // ("CN", "host"), ...
    std::vector<std::string> alternativeNames;                // DNS names or IP addresses
    std::string keyPairAlgorithm = "TPM_ALG_ECDSA";           // or TPM_ALG_RSA
    std::string keyCurveId = "TPM_ECC_NIST_P256";             // or TPM_ECC_NIST_P384
    int keyBitLength = 0;                                     // RSA: 2048 (default), 3072, 4096
};

// A new key and a CSR for it signed with it (SHA-256). On failure both are
// empty and `problem` names the parameter at fault ("KeyBitLength", ...) or,
// with an empty name, OpenSSL's reason in `reason`.
struct CsrResult {
    std::string keyPem, csrPem;
    std::string parameter, reason;
};
CsrResult makeCertificateRequest(const CsrParameters& parameters);

// A certificate offered to replace the server's: `pem` holds the
// certificate, optionally its intermediates and optionally its private key;
// without a key `pendingKeyPem` (the key of the last CSR) must be its key.
// The certificate must be valid now and the chain must link each certificate
// to the next by issuer and signature. On success `identity` and `fileText`
// (certificate, chain, key: the form server.pem holds) are set; else
// `problem` says why.
struct ReplacementCheck {
    std::shared_ptr<const TlsIdentity> identity;
    std::string fileText;
    std::string problem;
    bool usedPendingKey = false;
};
ReplacementCheck checkReplacement(const std::string& pem, const std::string& pendingKeyPem);

#endif
