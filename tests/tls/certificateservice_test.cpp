// The certificate service: a signing request from the server's new key,
// signed by a CA made here, installed without a restart; what it refuses.
#include <sys/stat.h>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "testsupport.h"

namespace {

using Json = nlohmann::json;
const std::string kService = "/redfish/v1/CertificateService";
const std::string kGenerate = kService + "/Actions/CertificateService.GenerateCSR";
const std::string kReplace = kService + "/Actions/CertificateService.ReplaceCertificate";
const std::string kHttps = "/redfish/v1/Managers/1/NetworkProtocol/HTTPS/Certificates";

std::unique_ptr<BIO, decltype(&BIO_free)> memory(const std::string& text) {
    return {BIO_new_mem_buf(text.data(), int(text.size())), BIO_free};
}

std::string pemOf(X509* cert) {
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_X509(out.get(), cert);
    char* data = nullptr;
    return std::string(data, size_t(BIO_get_mem_data(out.get(), &data)));
}

// The SHA-256 fingerprint as the Certificate resource writes it.
std::string fingerprint(const std::string& pem) {
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(memory(pem).get(), nullptr, nullptr, nullptr), X509_free);
    unsigned char md[32];
    unsigned int n = 0;
    X509_digest(cert.get(), EVP_sha256(), md, &n);
    std::string out;
    for (unsigned i = 0; i < n; ++i)
        out += (i ? ":" : "") + std::string(1, "0123456789ABCDEF"[md[i] >> 4]) +
               "0123456789ABCDEF"[md[i] & 15];
    return out;
}

// A certificate for `key` issued by `issuer` (itself when null), valid for
// the days from `from` to `to` around now.
std::string issue(EVP_PKEY* key, const char* cn, EVP_PKEY* signer, X509* issuer, int from, int to) {
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), long(from) * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), long(to) * 86400);
    X509_set_pubkey(cert.get(), key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer ? issuer : cert.get()));
    X509_sign(cert.get(), signer, EVP_sha256());
    return pemOf(cert.get());
}

TEST(CertificateService, ASignedRequestServesNewConnectionsAndBadCertificatesAreRefused) {
    ts::BundledServer s(ts::bundled("Standard", true, "\"RequestHeadTimeout\":60000"));
    ASSERT_EQ(s.start(), "");
    const std::string admin = "Basic " + ts::base64("admin:" + s.password());
    ts::Connection kept(s.tree.port, true); // handshake done before the change
    const std::string oldPem = kept.peerCertificate();
    EXPECT_EQ(Json::parse(s.send("GET", "/redfish/v1", admin).body)["CertificateService"],
              Json({{"@odata.id", kService}}));
    EXPECT_EQ(Json::parse(s.send("GET", kHttps + "/1", admin).body)["Fingerprint"],
              fingerprint(oldPem));

    const Json collection = {{"@odata.id", kHttps}};
    const ts::Response missing =
        s.send("POST", kGenerate, admin, Json({{"CertificateCollection", collection}}).dump());
    EXPECT_EQ(missing.status, 400);
    EXPECT_NE(missing.body.find("ActionParameterMissing"), std::string::npos);
    EXPECT_NE(missing.body.find("CommonName"), std::string::npos);
    const std::string request = Json({{"CommonName", "localhost"},
                                      {"Organization", "Tolvane Test"},
                                      {"CertificateCollection", collection}})
                                    .dump();
    const ts::Response csr = s.send("POST", kGenerate, admin, request);
    ASSERT_EQ(csr.status, 200) << csr.body;
    const std::string key = s.tree.serverDir + "server.pem.pending-key";
    struct stat st {};
    ASSERT_EQ(::stat(key.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The test CA signs the request's key.
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> caKey(EVP_EC_gen("P-256"), EVP_PKEY_free),
        otherKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> ca(
        PEM_read_bio_X509(memory(issue(caKey.get(), "Test CA", caKey.get(), nullptr, -1, 30)).get(),
                          nullptr, nullptr, nullptr),
        X509_free);
    std::unique_ptr<X509_REQ, decltype(&X509_REQ_free)> req(
        PEM_read_bio_X509_REQ(memory(Json::parse(csr.body)["CSRString"]).get(), nullptr, nullptr,
                              nullptr),
        X509_REQ_free);
    ASSERT_TRUE(req);
    EVP_PKEY* requested = X509_REQ_get0_pubkey(req.get());
    const std::string signedPem = issue(requested, "localhost", caKey.get(), ca.get(), -1, 30);

    auto replace = [&](const std::string& pem, const std::string& who) {
        return s.send("POST", kReplace, who,
                      Json({{"CertificateString", pem},
                            {"CertificateType", "PEM"},
                            {"CertificateUri", {{"@odata.id", kHttps + "/1"}}}})
                          .dump());
    };
    const std::string refused[] = {
        issue(requested, "expired", caKey.get(), ca.get(), -30, -1),
        issue(otherKey.get(), "other key", caKey.get(), ca.get(), -1, 30),
        signedPem + issue(otherKey.get(), "stranger", otherKey.get(), nullptr, -1, 30), // no chain
        "-----BEGIN CERTIFICATE-----\nbm90IGEgY2VydGlmaWNhdGU=\n-----END CERTIFICATE-----\n",
    };
    for (const std::string& bad : refused) {
        const ts::Response r = replace(bad, admin);
        EXPECT_EQ(r.status, 400) << r.body;
        EXPECT_NE(r.body.find("ActionParameterValueError"), std::string::npos) << r.body;
        EXPECT_EQ(fingerprint(ts::Connection(s.tree.port, true).peerCertificate()),
                  fingerprint(oldPem));
    }
    for (const char* role : {"Operator", "ReadOnly"}) {
        const std::string user = std::string("u") + role;
        ASSERT_EQ(
            s.send(
                 "POST", "/redfish/v1/AccountService/Accounts", admin,
                 Json({{"UserName", user}, {"Password", "Pass-word-42"}, {"RoleId", role}}).dump())
                .status,
            201);
        const std::string basic = "Basic " + ts::base64(user + ":Pass-word-42");
        EXPECT_EQ(replace(signedPem, basic).status, 403) << role;
        EXPECT_EQ(s.send("POST", kGenerate, basic, request).status, 403) << role;
    }

    const ts::Response done = replace(signedPem + pemOf(ca.get()), admin);
    ASSERT_EQ(done.status, 200) << done.body;
    EXPECT_EQ(fingerprint(ts::Connection(s.tree.port, true).peerCertificate()),
              fingerprint(signedPem));
    EXPECT_EQ(Json::parse(s.send("GET", kHttps + "/1", admin).body)["Fingerprint"],
              fingerprint(signedPem));
    EXPECT_NE(ts::readFile(s.tree.serverDir + "server.pem").find(pemOf(ca.get())),
              std::string::npos);
    EXPECT_FALSE(ts::fileExists(key));
    // The connection opened before still answers, with the old certificate.
    ASSERT_TRUE(kept.send(ts::requestText(s.tree.port, "GET", "/redfish/v1",
                                          {ts::basicAuth("admin", s.password())})));
    EXPECT_EQ(ts::parseResponse(kept.readAll()).status, 200);
    EXPECT_EQ(fingerprint(kept.peerCertificate()), fingerprint(oldPem));
}

} // namespace
