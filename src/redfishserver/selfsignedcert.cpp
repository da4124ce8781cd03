// The self-signed certificate generator: OpenSSL 3 only, no platform calls.
#include "redfishserver/servercertificate.h"

#include "redfishserver/opensslhandles.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace {

// What the certificate says; one place to read and change.
constexpr char kCurve[] = "P-256";
constexpr long kValidDays = 3650;
// Serial numbers: positive, at most 20 octets (RFC 5280), random.
constexpr int kSerialBits = 159;
// The longest common name X.509 allows (ub-common-name).
constexpr size_t kMaxCommonName = 64;
constexpr char kLoopbackName[] = "localhost";
const unsigned char kLoopbackV4[] = {127, 0, 0, 1};
const unsigned char kLoopbackV6[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
// Fixed texts only: nothing from outside is parsed as extension syntax.
const struct {
    int nid;
    const char* value;
} kFixedExtensions[] = {
    {NID_basic_constraints, "critical,CA:FALSE"},
    {NID_key_usage, "critical,digitalSignature"},
    {NID_ext_key_usage, "serverAuth"},
    {NID_subject_key_identifier, "hash"},
};

using openssl::BioPtr;
using openssl::BnPtr;
using openssl::CertPtr;
using openssl::errorText;
using openssl::ExtPtr;
using openssl::KeyPtr;
using openssl::NamesPtr;

// A DNS name usable in subjectAltName: printable ASCII without blanks.
bool isDnsText(const std::string& name) {
    if (name.empty())
        return false;
    for (unsigned char c : name)
        if (c <= ' ' || c >= 0x7f)
            return false;
    return true;
}

// Appends one name of `kind` (GEN_DNS, GEN_IPADD) holding `length` bytes.
bool addName(GENERAL_NAMES* names, int kind, int asn1Type, const void* data, int length) {
    ASN1_STRING* value = ASN1_STRING_type_new(asn1Type);
    GENERAL_NAME* entry = GENERAL_NAME_new();
    if (!value || !entry || !ASN1_STRING_set(value, data, length)) {
        ASN1_STRING_free(value);
        GENERAL_NAME_free(entry);
        return false;
    }
    GENERAL_NAME_set0_value(entry, kind, value);
    if (sk_GENERAL_NAME_push(names, entry) > 0)
        return true;
    GENERAL_NAME_free(entry);
    return false;
}

bool addDnsName(GENERAL_NAMES* names, const std::string& name) {
    return addName(names, GEN_DNS, V_ASN1_IA5STRING, name.data(), static_cast<int>(name.size()));
}

bool setSubjectAltName(X509* cert, const std::string& hostName) {
    NamesPtr names(sk_GENERAL_NAME_new_null());
    if (!names)
        return false;
    if (isDnsText(hostName) && hostName != kLoopbackName && !addDnsName(names.get(), hostName))
        return false;
    return addDnsName(names.get(), kLoopbackName) &&
           addName(names.get(), GEN_IPADD, V_ASN1_OCTET_STRING, kLoopbackV4, sizeof kLoopbackV4) &&
           addName(names.get(), GEN_IPADD, V_ASN1_OCTET_STRING, kLoopbackV6, sizeof kLoopbackV6) &&
           X509_add1_ext_i2d(cert, NID_subject_alt_name, names.get(), 0, X509V3_ADD_DEFAULT) == 1;
}

bool setRandomSerial(X509* cert) {
    BnPtr serial(BN_new());
    return serial && BN_rand(serial.get(), kSerialBits, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) &&
           BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert));
}

bool setSubjectAndIssuer(X509* cert, const std::string& hostName) {
    const std::string common =
        isDnsText(hostName) && hostName.size() <= kMaxCommonName ? hostName : kLoopbackName;
    X509_NAME* name = X509_get_subject_name(cert);
    return X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char*>(common.c_str()), -1,
                                      -1, 0) == 1 &&
           X509_set_issuer_name(cert, name) == 1;
}

bool addFixedExtensions(X509* cert) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    for (const auto& e : kFixedExtensions) {
        ExtPtr ext(X509V3_EXT_conf_nid(nullptr, &ctx, e.nid, e.value));
        if (!ext || X509_add_ext(cert, ext.get(), -1) != 1)
            return false;
    }
    return true;
}

CertPtr buildCertificate(EVP_PKEY* key, const std::string& hostName) {
    CertPtr cert(X509_new());
    if (!cert || X509_set_version(cert.get(), X509_VERSION_3) != 1 ||
        !setRandomSerial(cert.get()) || !X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) ||
        !X509_time_adj_ex(X509_getm_notAfter(cert.get()), kValidDays, 0, nullptr) ||
        X509_set_pubkey(cert.get(), key) != 1 || !setSubjectAndIssuer(cert.get(), hostName) ||
        !setSubjectAltName(cert.get(), hostName) || !addFixedExtensions(cert.get()) ||
        X509_sign(cert.get(), key, EVP_sha256()) <= 0)
        return nullptr;
    return cert;
}

} // namespace

std::string openssl::errorText(const char* step) {
    std::string text = step;
    const unsigned long code = ERR_get_error();
    if (code != 0) {
        char reason[256];
        ERR_error_string_n(code, reason, sizeof reason);
        text += ": ";
        text += reason;
    }
    ERR_clear_error();
    return text;
}

std::string makeSelfSignedCertificatePem(const std::string& hostName, std::string& error) {
    KeyPtr key(EVP_EC_gen(kCurve));
    if (!key) {
        error = errorText("key generation failed");
        return std::string();
    }
    CertPtr cert = buildCertificate(key.get(), hostName);
    if (!cert) {
        error = errorText("certificate creation failed");
        return std::string();
    }
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!out || PEM_write_bio_X509(out.get(), cert.get()) != 1 ||
        PEM_write_bio_PrivateKey(out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1) {
        error = errorText("PEM encoding failed");
        return std::string();
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    std::string pem(data, static_cast<size_t>(size));
    // The memory BIO's copy of the key is wiped before it is freed.
    BUF_MEM* buffer = nullptr;
    BIO_get_mem_ptr(out.get(), &buffer);
    if (buffer && buffer->data)
        OPENSSL_cleanse(buffer->data, buffer->max);
    return pem;
}

std::string certificateFileProblem(const std::string& path) {
    // Without working algorithms no file can be judged; the TLS start then
    // reports the library itself.
    if (!KeyPtr(EVP_EC_gen(kCurve))) {
        ERR_clear_error();
        return "";
    }
    // The key may come before the certificate or after it: each is read from
    // the start of its own copy of the file.
    BioPtr certificateFile(BIO_new_file(path.c_str(), "r"));
    BioPtr keyFile(BIO_new_file(path.c_str(), "r"));
    if (!certificateFile || !keyFile)
        return errorText("cannot read the file");
    CertPtr cert(PEM_read_bio_X509(certificateFile.get(), nullptr, nullptr, nullptr));
    if (!cert)
        return errorText("no PEM certificate in it");
    KeyPtr key(PEM_read_bio_PrivateKey(keyFile.get(), nullptr, nullptr, nullptr));
    if (!key)
        return errorText("no unencrypted PEM private key in it");
    if (X509_check_private_key(cert.get(), key.get()) != 1)
        return errorText("the private key does not belong to the certificate");
    return "";
}
