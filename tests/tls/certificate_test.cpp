// The server's own certificate: made once per installation, kept once made,
// never written through a link.
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "testsupport.h"

namespace {

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;
using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// The first certificate and the private key of a PEM text.
struct PemContents {
    X509Ptr cert{nullptr, X509_free};
    KeyPtr key{nullptr, EVP_PKEY_free};
};

PemContents readPem(const std::string& text) {
    PemContents out;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(text.data(), int(text.size())),
                                                  BIO_free);
    out.cert.reset(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    BIO_reset(bio.get());
    out.key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    return out;
}

std::string hostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

ts::InstallOptions tlsWithoutCertificate() {
    ts::InstallOptions o;
    o.tls = true;
    o.certificate = false;
    return o;
}

TEST(ServerCertificate, FirstStartMakesAPrivateP256KeyForThisHost) {
    ts::InstallTree tree(tlsWithoutCertificate());
    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output() << tree.outLog();
    EXPECT_EQ(ts::request(tree.port, "GET", "/redfish", {}, "", true).status, 200);

    const std::string path = tree.serverDir + "server.pem";
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    PemContents pem = readPem(ts::readFile(path));
    ASSERT_TRUE(pem.cert && pem.key);
    char group[64] = {};
    ASSERT_EQ(EVP_PKEY_get_group_name(pem.key.get(), group, sizeof group, nullptr), 1);
    EXPECT_STREQ(group, "prime256v1");
    EXPECT_EQ(X509_check_private_key(pem.cert.get(), pem.key.get()), 1);
    EXPECT_EQ(X509_get_signature_nid(pem.cert.get()), NID_ecdsa_with_SHA256);
    EXPECT_EQ(X509_check_host(pem.cert.get(), hostName().c_str(), 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_ip_asc(pem.cert.get(), "127.0.0.1", 0), 1);
    EXPECT_EQ(X509_check_ip_asc(pem.cert.get(), "::1", 0), 1);
    EXPECT_LT(X509_cmp_current_time(X509_get0_notBefore(pem.cert.get())), 0);
    EXPECT_GT(X509_cmp_current_time(X509_get0_notAfter(pem.cert.get())), 0);

    // The server presents that very certificate.
    PemContents served = readPem(ts::Connection(tree.port, true).peerCertificate());
    ASSERT_TRUE(served.cert);
    EXPECT_EQ(X509_cmp(served.cert.get(), pem.cert.get()), 0);
}

TEST(ServerCertificate, TwoInstallationsNeverShareAKey) {
    // One made by a first start, one by the install command.
    ts::InstallTree started(tlsWithoutCertificate());
    {
        ts::ServerProcess server(started);
        ASSERT_TRUE(server.waitReady()) << server.output() << started.outLog();
    }
    ts::InstallTree installed(tlsWithoutCertificate());
    const std::string unitDir = ts::makeTempDir("tolvane-units");
    {
        ts::ServerProcess install(installed, {"install"}, {{"TOLVANE_SYSTEMD_DIR", unitDir}});
        EXPECT_EQ(install.waitExit(), 0) << install.output();
    }
    ts::removeTree(unitDir);

    PemContents a = readPem(ts::readFile(started.serverDir + "server.pem"));
    PemContents b = readPem(ts::readFile(installed.serverDir + "server.pem"));
    ASSERT_TRUE(a.key && b.key);
    EXPECT_NE(EVP_PKEY_eq(a.key.get(), b.key.get()), 1);
    EXPECT_NE(ASN1_INTEGER_cmp(X509_get0_serialNumber(a.cert.get()),
                               X509_get0_serialNumber(b.cert.get())),
              0);
}

TEST(ServerCertificate, ExistingCertificateIsKeptByteForByte) {
    ts::InstallOptions o;
    o.tls = true;
    ts::InstallTree tree(o);
    const std::string before = ts::readFile(tree.serverDir + "server.pem");
    ASSERT_FALSE(before.empty());
    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output();
    server.stop(); // files are checked once the server has ended
    EXPECT_EQ(ts::readFile(tree.serverDir + "server.pem"), before);
}

// A link where the certificate belongs is refused, wherever it points: the
// start ends with exit code 1 and nothing is written through it.
TEST(ServerCertificate, LinkAtTheCertificatePathIsRefusedNotFollowed) {
    struct Case {
        const char* name;
        bool targetExists;
    };
    for (const Case& c : {Case{"dangling", false}, Case{"to a valid certificate", true}}) {
        ts::InstallTree tree(tlsWithoutCertificate());
        const std::string target = tree.root + "elsewhere.pem";
        if (c.targetExists)
            ts::writeFile(target, ts::readFile(ts::testCertificate()));
        const std::string before = ts::readFile(target);
        ASSERT_EQ(::symlink(target.c_str(), (tree.serverDir + "server.pem").c_str()), 0);

        ts::ServerProcess server(tree);
        EXPECT_EQ(server.waitExit(), 1) << c.name << ": " << server.output();
        EXPECT_EQ(ts::fileExists(target), c.targetExists) << c.name;
        EXPECT_EQ(ts::readFile(target), before) << c.name;
        EXPECT_NE(tree.outLog().find("server.pem"), std::string::npos) << c.name << tree.outLog();
        EXPECT_EQ(tree.outLog().find("Redfish server started"), std::string::npos) << c.name;
    }
}

// A damaged certificate file ends the start with a message that names the
// file and what to do, not only the library's "cannot initialise TLS".
TEST(ServerCertificate, DamagedCertificateFileIsNamedWithItsRemedy) {
    const std::string pem = ts::readFile(ts::testCertificate());
    const std::string certificateOnly = pem.substr(0, pem.find("-----END CERTIFICATE-----") + 26);
    for (const std::string& damaged : {std::string(), std::string("not PEM"), certificateOnly}) {
        ts::InstallTree tree(tlsWithoutCertificate());
        ts::writeFile(tree.serverDir + "server.pem", damaged);
        ts::ServerProcess server(tree);
        EXPECT_EQ(server.waitExit(), 1) << server.output();
        const std::string out = tree.outLog();
        EXPECT_NE(out.find("Cannot use the certificate " + tree.serverDir + "server.pem"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("delete it to have a new one made"), std::string::npos) << out;
    }
}

// The build stages configuration only: copies of one build must not share a
// key.
TEST(ServerCertificate, StagedTreeHoldsNoPrivateKey) {
    const std::string dir = ts::makeTempDir("tolvane-stage");
    const std::string command = "sh '" + ts::sourceDir() + "/scripts/stage-config.sh' '" +
                                ts::sourceDir() + "' '" + dir + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_TRUE(ts::fileExists(dir + "/ServerConfiguration.json"));
    EXPECT_FALSE(ts::fileExists(dir + "/server.pem"));
    ts::removeTree(dir);
}

} // namespace
