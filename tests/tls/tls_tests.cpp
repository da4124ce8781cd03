// The TLS port: which protocol versions and suites it accepts, and what a
// client speaking plain HTTP to it gets back.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <memory>
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

struct Handshake {
    bool ok = false;
    std::string version;
    std::string cipher;
};

int connectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Handshake limited to one protocol version, optionally to a cipher list.
Handshake handshake(int port, int version, const char* ciphers = nullptr) {
    Handshake h;
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()),
                                                          SSL_CTX_free);
    // Let the client offer old protocols; the server must be the one refusing.
    SSL_CTX_set_security_level(ctx.get(), 0);
    SSL_CTX_set_min_proto_version(ctx.get(), version);
    SSL_CTX_set_max_proto_version(ctx.get(), version);
    if (ciphers)
        SSL_CTX_set_cipher_list(ctx.get(), ciphers);
    int fd = connectTo(port);
    if (fd < 0)
        return h;
    SSL* ssl = SSL_new(ctx.get());
    SSL_set_fd(ssl, fd);
    if (SSL_connect(ssl) == 1) {
        h.ok = true;
        h.version = SSL_get_version(ssl);
        h.cipher = SSL_get_cipher_name(ssl);
        SSL_shutdown(ssl);
    }
    ERR_clear_error();
    SSL_free(ssl);
    ::close(fd);
    return h;
}

TEST_F(TlsPort, ModernVersionsServeRequests) {
    Handshake h12 = handshake(tree->port, TLS1_2_VERSION);
    EXPECT_TRUE(h12.ok);
    EXPECT_EQ(h12.version, "TLSv1.2");
    Handshake h13 = handshake(tree->port, TLS1_3_VERSION);
    EXPECT_TRUE(h13.ok);
    EXPECT_EQ(h13.version, "TLSv1.3");

    ts::Response r = ts::request(tree->port, "GET", "/redfish", {}, "", true);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "{\"v1\":\"/redfish/v1/\"}");
}

// A client's second connection offering the first one's session (read to
// its end, so TLS 1.3 tickets have arrived): whether the server resumed it.
bool secondConnectionResumes(int port, int version, bool tickets) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()),
                                                          SSL_CTX_free);
    SSL_CTX_set_min_proto_version(ctx.get(), version);
    SSL_CTX_set_max_proto_version(ctx.get(), version);
    SSL_CTX_set_options(ctx.get(), tickets ? 0 : SSL_OP_NO_TICKET);
    SSL_SESSION* first = nullptr;
    bool resumed = false;
    for (int i = 0; i < 2; ++i) {
        const int fd = connectTo(port);
        SSL* ssl = SSL_new(ctx.get());
        SSL_set_fd(ssl, fd);
        SSL_set_session(ssl, first);
        const std::string get = "GET /redfish HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
        char buffer[4096];
        if (SSL_connect(ssl) == 1 && SSL_write(ssl, get.data(), static_cast<int>(get.size())) > 0)
            while (SSL_read(ssl, buffer, sizeof buffer) > 0) {
            }
        resumed = SSL_session_reused(ssl) == 1;
        first = first ? first : SSL_get1_session(ssl);
        SSL_shutdown(ssl); // a connection ended without it leaves no session to resume
        SSL_free(ssl);
        ::close(fd);
    }
    SSL_SESSION_free(first);
    ERR_clear_error();
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
        EXPECT_FALSE(handshake(tree->port, version, "DEFAULT:@SECLEVEL=0").ok) << version;
}

TEST_F(TlsPort, Tls12OffersOnlyForwardSecretAeadSuites) {
    // Everything OpenSSL knows, weakest included: whatever the server picks
    // must be ECDHE with AES-GCM.
    Handshake any = handshake(tree->port, TLS1_2_VERSION, "ALL:COMPLEMENTOFALL:@SECLEVEL=0");
    ASSERT_TRUE(any.ok);
    EXPECT_NE(any.cipher.find("ECDHE"), std::string::npos) << any.cipher;
    EXPECT_NE(any.cipher.find("GCM"), std::string::npos) << any.cipher;

    for (const char* weak :
         {"AES128-SHA:AES256-SHA", "DHE-RSA-AES128-SHA", "ECDHE-ECDSA-AES128-SHA",
          "ECDHE-RSA-AES128-SHA256:ECDHE-ECDSA-AES128-SHA256", "AES256-GCM-SHA384",
          "ECDHE-ECDSA-CHACHA20-POLY1305"}) {
        Handshake h = handshake(tree->port, TLS1_2_VERSION, weak);
        if (h.ok) {
            // Accepted only if the suite is forward secret and AEAD.
            EXPECT_NE(h.cipher.find("ECDHE"), std::string::npos) << weak << " -> " << h.cipher;
            EXPECT_TRUE(h.cipher.find("GCM") != std::string::npos ||
                        h.cipher.find("CHACHA20") != std::string::npos)
                << weak << " -> " << h.cipher;
        }
    }
    EXPECT_FALSE(
        handshake(tree->port, TLS1_2_VERSION, "AES128-SHA:AES256-SHA:AES256-GCM-SHA384").ok);
}

TEST_F(TlsPort, PlainHttpGetsNothingReadable) {
    std::string raw =
        ts::exchange(tree->port, "GET /redfish/v1 HTTP/1.1\r\nHost: x\r\n\r\n", false, 3000);
    EXPECT_EQ(raw.find("HTTP/"), std::string::npos);
    EXPECT_EQ(raw.find("redfish"), std::string::npos);
    EXPECT_EQ(raw.find("odata"), std::string::npos);
    // The server still serves TLS clients afterwards.
    EXPECT_TRUE(handshake(tree->port, TLS1_3_VERSION).ok);
}

} // namespace
