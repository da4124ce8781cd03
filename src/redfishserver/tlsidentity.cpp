#include "redfishserver/tlsidentity.h"

#include "redfishserver/httpoptions.h"
#include "redfishserver/opensslhandles.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <ctime>

struct TlsIdentity {
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
    STACK_OF(X509) * chain = nullptr;
    ~TlsIdentity() {
        X509_free(cert);
        EVP_PKEY_free(key);
        sk_X509_pop_free(chain, X509_free);
    }
};

namespace {

using openssl::BioPtr;
using openssl::CertPtr;
using openssl::Deleter;
using openssl::KeyPtr;
using openssl::NamesPtr;
using ReqPtr = std::unique_ptr<X509_REQ, Deleter<X509_REQ, X509_REQ_free>>;
void freeExtensions(STACK_OF(X509_EXTENSION) * s) {
    sk_X509_EXTENSION_pop_free(s, X509_EXTENSION_free);
}
using ExtsPtr =
    std::unique_ptr<STACK_OF(X509_EXTENSION), Deleter<STACK_OF(X509_EXTENSION), freeExtensions>>;

// The holder new handshakes read; swapped whole, never changed in place.
// Empty until a certificate is installed: the engine presents server.pem.
std::shared_ptr<const TlsIdentity> gIdentity;
// server.pem as the engine read it at the start.
std::shared_ptr<const TlsIdentity> gStartIdentity;

std::string pemText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

std::string certificatePem(X509* cert) {
    BioPtr out(BIO_new(BIO_s_mem()));
    return out && PEM_write_bio_X509(out.get(), cert) == 1 ? pemText(out.get()) : "";
}

std::string keyPem(EVP_PKEY* key) {
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!out ||
        PEM_write_bio_PrivateKey(out.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return "";
    std::string text = pemText(out.get());
    BUF_MEM* buffer = nullptr;
    BIO_get_mem_ptr(out.get(), &buffer);
    if (buffer && buffer->data)
        OPENSSL_cleanse(buffer->data, buffer->max);
    return text;
}

// Every certificate of a PEM text, in order, and its first private key.
struct PemParts {
    std::vector<CertPtr> certs;
    KeyPtr key;
    bool unreadable = false; // a PEM block that is neither
};

PemParts readPemParts(const std::string& text) {
    PemParts parts;
    BioPtr in(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    if (!in) {
        parts.unreadable = true;
        return parts;
    }
    for (;;) {
        char* name = nullptr;
        char* header = nullptr;
        unsigned char* data = nullptr;
        long length = 0;
        if (PEM_read_bio(in.get(), &name, &header, &data, &length) != 1)
            break;
        const std::string type = name;
        const unsigned char* cursor = data;
        if (type == PEM_STRING_X509 || type == PEM_STRING_X509_OLD) {
            CertPtr cert(d2i_X509(nullptr, &cursor, length));
            if (cert)
                parts.certs.push_back(std::move(cert));
            else
                parts.unreadable = true;
        } else if (type == PEM_STRING_PKCS8INF || type == PEM_STRING_EVP_PKEY ||
                   type == PEM_STRING_ECPRIVATEKEY || type == PEM_STRING_RSA) {
            const int kind = type == PEM_STRING_ECPRIVATEKEY ? EVP_PKEY_EC
                             : type == PEM_STRING_RSA        ? EVP_PKEY_RSA
                                                             : EVP_PKEY_NONE;
            KeyPtr key(kind == EVP_PKEY_NONE ? d2i_AutoPrivateKey(nullptr, &cursor, length)
                                             : d2i_PrivateKey(kind, nullptr, &cursor, length));
            if (key && !parts.key)
                parts.key = std::move(key);
            else if (!key)
                parts.unreadable = true;
        } else {
            parts.unreadable = true; // encrypted keys, CSRs and the like
        }
        OPENSSL_cleanse(data, static_cast<size_t>(length));
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(data);
    }
    ERR_clear_error(); // the end of the text reads as an error
    return parts;
}

std::shared_ptr<const TlsIdentity> identityOf(PemParts& parts) {
    auto identity = std::make_shared<TlsIdentity>();
    identity->cert = parts.certs.front().release();
    identity->key = parts.key.release();
    identity->chain = sk_X509_new_null();
    for (size_t i = 1; i < parts.certs.size(); ++i)
        sk_X509_push(identity->chain, parts.certs[i].release());
    return identity;
}

std::string isoTime(const ASN1_TIME* time) {
    struct tm t {};
    if (!time || ASN1_TIME_to_tm(time, &t) != 1)
        return "";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string colonHex(const unsigned char* bytes, size_t length) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        if (i)
            text += ':';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0f];
    }
    return text;
}

// The Redfish Identifier members of an X.509 name.
json::Value identifierOf(const X509_NAME* name) {
    static const struct {
        int nid;
        const char* member;
    } kMembers[] = {
        {NID_commonName, "CommonName"},
        {NID_organizationName, "Organization"},
        {NID_organizationalUnitName, "OrganizationalUnit"},
        {NID_localityName, "City"},
        {NID_stateOrProvinceName, "State"},
        {NID_countryName, "Country"},
        {NID_pkcs9_emailAddress, "Email"},
    };
    json::Value out = json::Value::object();
    for (const auto& m : kMembers) {
        const int at = X509_NAME_get_index_by_NID(name, m.nid, -1);
        if (at < 0)
            continue;
        unsigned char* utf8 = nullptr;
        const int length =
            ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
        if (length >= 0)
            out[m.member] = std::string(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
        OPENSSL_free(utf8);
    }
    char* line = X509_NAME_oneline(name, nullptr, 0);
    if (line)
        out["DisplayString"] = line;
    OPENSSL_free(line);
    return out;
}

std::vector<std::string> keyUsageOf(X509* cert) {
    static const struct {
        uint32_t bit;
        const char* name;
    } kUsage[] = {
        {KU_DIGITAL_SIGNATURE, "DigitalSignature"},
        {KU_NON_REPUDIATION, "NonRepudiation"},
        {KU_KEY_ENCIPHERMENT, "KeyEncipherment"},
        {KU_DATA_ENCIPHERMENT, "DataEncipherment"},
        {KU_KEY_AGREEMENT, "KeyAgreement"},
        {KU_KEY_CERT_SIGN, "KeyCertSign"},
        {KU_CRL_SIGN, "CRLSigning"},
        {KU_ENCIPHER_ONLY, "EncipherOnly"},
        {KU_DECIPHER_ONLY, "DecipherOnly"},
    };
    static const struct {
        uint32_t bit;
        const char* name;
    } kExtended[] = {
        {XKU_SSL_SERVER, "ServerAuthentication"}, {XKU_SSL_CLIENT, "ClientAuthentication"},
        {XKU_CODE_SIGN, "CodeSigning"},           {XKU_SMIME, "EmailProtection"},
        {XKU_TIMESTAMP, "Timestamping"},          {XKU_OCSP_SIGN, "OCSPSigning"},
    };
    std::vector<std::string> names;
    const uint32_t usage = X509_get_key_usage(cert); // all bits when it states none
    if (X509_get_extension_flags(cert) & EXFLAG_KUSAGE)
        for (const auto& u : kUsage)
            if (usage & u.bit)
                names.push_back(u.name);
    if (X509_get_extension_flags(cert) & EXFLAG_XKUSAGE)
        for (const auto& u : kExtended)
            if (X509_get_extended_key_usage(cert) & u.bit)
                names.push_back(u.name);
    return names;
}

int presentCurrentIdentity(SSL* ssl, void*) {
    const std::shared_ptr<const TlsIdentity> identity = std::atomic_load(&gIdentity);
    if (!identity)
        return 1; // the engine's own from server.pem
    // Cleared first: a key of another type must not leave the old one
    // selectable beside it.
    SSL_certs_clear(ssl);
    return SSL_use_cert_and_key(ssl, identity->cert, identity->key, identity->chain, 1) == 1 ? 1
                                                                                             : 0;
}

// Each certificate of `certs` issued and signed by the next one.
std::string chainProblem(const std::vector<CertPtr>& certs) {
    for (size_t i = 0; i + 1 < certs.size(); ++i) {
        X509* issuer = certs[i + 1].get();
        if (X509_check_issued(issuer, certs[i].get()) != X509_V_OK)
            return "certificate " + std::to_string(i + 2) +
                   " of the chain did not issue certificate " + std::to_string(i + 1);
        KeyPtr issuerKey(X509_get_pubkey(issuer));
        if (!issuerKey || X509_verify(certs[i].get(), issuerKey.get()) != 1) {
            ERR_clear_error();
            return "certificate " + std::to_string(i + 1) +
                   " is not signed by the next certificate of the chain";
        }
    }
    return "";
}

bool addSubjectAltNames(X509_REQ* req, const std::vector<std::string>& names) {
    if (names.empty())
        return true;
    NamesPtr general(sk_GENERAL_NAME_new_null());
    for (const std::string& name : names) {
        ASN1_OCTET_STRING* ip = a2i_IPADDRESS(name.c_str());
        GENERAL_NAME* entry = GENERAL_NAME_new();
        if (!entry) {
            ASN1_OCTET_STRING_free(ip);
            return false;
        }
        if (ip) {
            GENERAL_NAME_set0_value(entry, GEN_IPADD, ip);
        } else {
            ERR_clear_error();
            ASN1_IA5STRING* dns = ASN1_IA5STRING_new();
            if (!dns || !ASN1_STRING_set(dns, name.data(), static_cast<int>(name.size()))) {
                ASN1_IA5STRING_free(dns);
                GENERAL_NAME_free(entry);
                return false;
            }
            GENERAL_NAME_set0_value(entry, GEN_DNS, dns);
        }
        if (sk_GENERAL_NAME_push(general.get(), entry) <= 0) {
            GENERAL_NAME_free(entry);
            return false;
        }
    }
    ExtsPtr extensions(sk_X509_EXTENSION_new_null());
    X509_EXTENSION* ext = X509V3_EXT_i2d(NID_subject_alt_name, 0, general.get());
    if (!extensions || !ext || sk_X509_EXTENSION_push(extensions.get(), ext) <= 0) {
        X509_EXTENSION_free(ext);
        return false;
    }
    return X509_REQ_add_extensions(req, extensions.get()) == 1;
}

KeyPtr newKey(const CsrParameters& p, std::string& parameter) {
    if (p.keyPairAlgorithm == "TPM_ALG_RSA") {
        const int bits = p.keyBitLength == 0 ? 2048 : p.keyBitLength;
        if (bits != 2048 && bits != 3072 && bits != 4096) {
            parameter = "KeyBitLength";
            return nullptr;
        }
        return KeyPtr(EVP_RSA_gen(static_cast<unsigned>(bits)));
    }
    if (p.keyPairAlgorithm != "TPM_ALG_ECDSA") {
        parameter = "KeyPairAlgorithm";
        return nullptr;
    }
    const char* curve = p.keyCurveId == "TPM_ECC_NIST_P256"   ? "P-256"
                        : p.keyCurveId == "TPM_ECC_NIST_P384" ? "P-384"
                                                              : nullptr;
    const int curveBits = curve && curve[2] == '2' ? 256 : 384;
    if (!curve || (p.keyBitLength != 0 && p.keyBitLength != curveBits)) {
        parameter = curve ? "KeyBitLength" : "KeyCurveId";
        return nullptr;
    }
    return KeyPtr(EVP_EC_gen(curve));
}

} // namespace

int installTlsIdentityCallback(void* sslCtx, void*) {
    SSL_CTX_set_cert_cb(static_cast<SSL_CTX*>(sslCtx), presentCurrentIdentity, nullptr);
    // What the engine reads next, for the Certificate resource to show.
    BioPtr in(BIO_new_file(serverCertificatePath().c_str(), "r"));
    std::string text;
    char buffer[4096];
    int n;
    while (in && (n = BIO_read(in.get(), buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    ERR_clear_error();
    PemParts parts = readPemParts(text);
    OPENSSL_cleanse(&text[0], text.size());
    if (!parts.certs.empty() && parts.key)
        std::atomic_store(&gStartIdentity, identityOf(parts));
    return 0;
}

std::shared_ptr<const TlsIdentity> currentTlsIdentity() {
    std::shared_ptr<const TlsIdentity> identity = std::atomic_load(&gIdentity);
    return identity ? identity : std::atomic_load(&gStartIdentity);
}

void putInService(std::shared_ptr<const TlsIdentity> identity) {
    std::atomic_store(&gIdentity, std::move(identity));
}

CertificateFacts factsOf(const TlsIdentity& identity) {
    CertificateFacts facts;
    X509* cert = identity.cert;
    facts.pem = certificatePem(cert);
    facts.subject = identifierOf(X509_get_subject_name(cert));
    facts.issuer = identifierOf(X509_get_issuer_name(cert));
    facts.validNotBefore = isoTime(X509_get0_notBefore(cert));
    facts.validNotAfter = isoTime(X509_get0_notAfter(cert));
    facts.keyUsage = keyUsageOf(cert);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &length) == 1)
        facts.fingerprint = colonHex(digest, length);
    const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
    facts.serialNumber =
        colonHex(ASN1_STRING_get0_data(serial), static_cast<size_t>(ASN1_STRING_length(serial)));
    char oid[80] = {};
    OBJ_obj2txt(oid, sizeof oid, OBJ_nid2obj(X509_get_signature_nid(cert)), 1);
    facts.signatureAlgorithm = oid;
    return facts;
}

CsrResult makeCertificateRequest(const CsrParameters& parameters) {
    CsrResult result;
    KeyPtr key = newKey(parameters, result.parameter);
    if (!key) {
        if (result.parameter.empty())
            result.reason = openssl::errorText("OpenSSL failed");
        return result;
    }
    ReqPtr req(X509_REQ_new());
    X509_NAME* name = req ? X509_REQ_get_subject_name(req.get()) : nullptr;
    bool ok = name && X509_REQ_set_version(req.get(), 0) == 1;
    for (const auto& [field, value] : parameters.subject) {
        if (!ok)
            break;
        if (X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(value.c_str()), -1,
                                       -1, 0) != 1) {
            // Too long, or a country that is not two letters.
            ERR_clear_error();
            result.parameter = field;
            return result;
        }
    }
    ok = ok && addSubjectAltNames(req.get(), parameters.alternativeNames) &&
         X509_REQ_set_pubkey(req.get(), key.get()) == 1 &&
         X509_REQ_sign(req.get(), key.get(), EVP_sha256()) > 0;
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!ok || !out || PEM_write_bio_X509_REQ(out.get(), req.get()) != 1) {
        result.reason = openssl::errorText("OpenSSL failed");
        return result;
    }
    result.csrPem = pemText(out.get());
    result.keyPem = keyPem(key.get());
    return result;
}

ReplacementCheck checkReplacement(const std::string& pem, const std::string& pendingKeyPem) {
    ReplacementCheck check;
    PemParts parts = readPemParts(pem);
    if (parts.unreadable || parts.certs.empty()) {
        check.problem = parts.certs.empty() ? "it holds no PEM certificate"
                                            : "it holds a PEM block that is neither a certificate "
                                              "nor an unencrypted private key";
        return check;
    }
    X509* cert = parts.certs.front().get();
    if (X509_cmp_current_time(X509_get0_notBefore(cert)) >= 0) {
        check.problem = "the certificate is not valid before " + isoTime(X509_get0_notBefore(cert));
        return check;
    }
    if (X509_cmp_current_time(X509_get0_notAfter(cert)) <= 0) {
        check.problem = "the certificate expired at " + isoTime(X509_get0_notAfter(cert));
        return check;
    }
    if (!parts.key) {
        PemParts pending = readPemParts(pendingKeyPem);
        if (!pending.key) {
            check.problem = "it holds no private key and no certificate signing request is pending";
            return check;
        }
        parts.key = std::move(pending.key);
        check.usedPendingKey = true;
    }
    if (X509_check_private_key(cert, parts.key.get()) != 1) {
        ERR_clear_error();
        check.problem = check.usedPendingKey
                            ? "the certificate is not for the key of the pending signing request"
                            : "the private key does not belong to the certificate";
        return check;
    }
    check.problem = chainProblem(parts.certs);
    if (!check.problem.empty())
        return check;
    for (const CertPtr& c : parts.certs)
        check.fileText += certificatePem(c.get());
    check.fileText += keyPem(parts.key.get());
    check.identity = identityOf(parts);
    return check;
}
