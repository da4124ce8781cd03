// The TLS port: which protocol versions and suites it accepts, and what a
// client speaking plain HTTP to it gets back.
#include <openssl/ssl.h>

#include <string>

#include <gtest/gtest.h>

#include "testsupport.h"

namespace {

class TlsPort : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ts::InstallOptions o;
        o.tls = true;
        tree = new ts::InstallTree(o);
        server = new ts::ServerProcess(*tree);
        ASSERT_TRUE(server->waitReady()) << server->output();
    }
    static void TearDownTestSuite() {
        delete server;
        delete tree;
        server = nullptr;
        tree = nullptr;
    }
    static ts::InstallTree* tree;
    static ts::ServerProcess* server;
};
ts::InstallTree* TlsPort::tree = nullptr;
ts::ServerProcess* TlsPort::server = nullptr;

// A TLS connection limited to one protocol version, optionally to a cipher list.
ts::Connection handshake(int port, int version, const char* ciphers = "") {
    ts::ConnectOptions o;
    o.tls = true;
    o.timeoutMs = 5000;
    o.tlsVersion = version;
    o.ciphers = ciphers;
    return ts::Connection(port, o);
}

TEST_F(TlsPort, ModernVersionsServeRequests) {
    EXPECT_EQ(handshake(tree->port, TLS1_2_VERSION).tlsVersion(), "TLSv1.2");
    EXPECT_EQ(handshake(tree->port, TLS1_3_VERSION).tlsVersion(), "TLSv1.3");

    ts::Response r = ts::request(tree->port, "GET", "/redfish", {}, "", true);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "{\"v1\":\"/redfish/v1/\"}");
}

// A client's second connection offering the first one's session (read to
// its end, so TLS 1.3 tickets have arrived): whether the server resumed it.
bool secondConnectionResumes(int port, int version, bool tickets) {
    ts::ConnectOptions o;
    o.tls = true;
    o.tlsVersion = version;
    o.tlsTickets = tickets;
    bool resumed = false;
    for (int i = 0; i < 2; ++i) {
        ts::Connection c(port, o);
        c.send("GET /redfish HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        c.readAll();
        resumed = c.tlsResumed();
        o.tlsSession = o.tlsSession ? o.tlsSession : c.tlsSession();
        c.close();
    }
    return resumed;
}

TEST_F(TlsPort, AReconnectingClientResumesItsSession) {
    EXPECT_TRUE(secondConnectionResumes(tree->port, TLS1_2_VERSION, false)) << "session id";
    EXPECT_TRUE(secondConnectionResumes(tree->port, TLS1_2_VERSION, true)) << "TLS 1.2 ticket";
    EXPECT_TRUE(secondConnectionResumes(tree->port, TLS1_3_VERSION, true)) << "TLS 1.3 ticket";
}

TEST_F(TlsPort, OldVersionsAreRefused) {
    // The client offers every suite it has, at security level 0 (where
    // OpenSSL 3 still allows TLS 1.0 and 1.1): only the server can refuse.
    for (int version : {TLS1_1_VERSION, TLS1_VERSION})
        EXPECT_FALSE(handshake(tree->port, version, "DEFAULT:@SECLEVEL=0").connected()) << version;
}

TEST_F(TlsPort, Tls12OffersOnlyForwardSecretAeadSuites) {
    // Everything OpenSSL knows, weakest included: whatever the server picks
    // must be ECDHE with AES-GCM.
    const std::string any =
        handshake(tree->port, TLS1_2_VERSION, "ALL:COMPLEMENTOFALL:@SECLEVEL=0").tlsCipher();
    EXPECT_NE(any.find("ECDHE"), std::string::npos) << any;
    EXPECT_NE(any.find("GCM"), std::string::npos) << any;

    for (const char* weak :
         {"AES128-SHA:AES256-SHA", "DHE-RSA-AES128-SHA", "ECDHE-ECDSA-AES128-SHA",
          "ECDHE-RSA-AES128-SHA256:ECDHE-ECDSA-AES128-SHA256", "AES256-GCM-SHA384",
          "ECDHE-ECDSA-CHACHA20-POLY1305"}) {
        const std::string cipher = handshake(tree->port, TLS1_2_VERSION, weak).tlsCipher();
        if (!cipher.empty()) {
            // Accepted only if the suite is forward secret and AEAD.
            EXPECT_NE(cipher.find("ECDHE"), std::string::npos) << weak << " -> " << cipher;
            EXPECT_TRUE(cipher.find("GCM") != std::string::npos ||
                        cipher.find("CHACHA20") != std::string::npos)
                << weak << " -> " << cipher;
        }
    }
    EXPECT_FALSE(handshake(tree->port, TLS1_2_VERSION, "AES128-SHA:AES256-SHA:AES256-GCM-SHA384")
                     .connected());
}

TEST_F(TlsPort, PlainHttpGetsNothingReadable) {
    std::string raw =
        ts::exchange(tree->port, "GET /redfish/v1 HTTP/1.1\r\nHost: x\r\n\r\n", false, 3000);
    EXPECT_EQ(raw.find("HTTP/"), std::string::npos);
    EXPECT_EQ(raw.find("redfish"), std::string::npos);
    EXPECT_EQ(raw.find("odata"), std::string::npos);
    // The server still serves TLS clients afterwards.
    EXPECT_TRUE(handshake(tree->port, TLS1_3_VERSION).connected());
}

} // namespace
