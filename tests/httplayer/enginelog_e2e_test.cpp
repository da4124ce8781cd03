// The engine's error log of the real program: it rolls over like the trace
// file, and a line about a connection names no earlier request.
#include <gtest/gtest.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "testsupport.h"

namespace {

// Plain text to the TLS port: the handshake fails and the engine logs it.
void sendPlainTextToTlsPort(int port, int connections) {
    for (int i = 0; i < connections; ++i)
        ts::exchange(port, "GET /redfish/v1 HTTP/1.1\r\nHost: x\r\n\r\n", false, 5000);
}

// A TLS connection that stays open after its handshake.
class TlsConnection {
  public:
    TlsConnection(SSL_CTX* ctx, int port) : fd_(ts::connectLoopback(port)) {
        if (fd_ < 0)
            return;
        ssl_ = SSL_new(ctx);
        SSL_set_fd(ssl_, fd_);
        if (SSL_connect(ssl_) != 1) {
            SSL_free(ssl_);
            ssl_ = nullptr;
        }
    }
    ~TlsConnection() {
        if (ssl_)
            SSL_free(ssl_);
        if (fd_ >= 0)
            ::close(fd_);
        ERR_clear_error();
    }
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    bool ready() const { return ssl_ != nullptr; }
    // Sends the request and reads until the server closes.
    std::string exchange(const std::string& bytes) {
        if (SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) <= 0)
            return std::string();
        std::string out;
        char buf[4096];
        int n;
        while ((n = SSL_read(ssl_, buf, sizeof buf)) > 0)
            out.append(buf, static_cast<size_t>(n));
        return out;
    }

  private:
    int fd_ = -1;
    SSL* ssl_ = nullptr;
};

ts::InstallOptions tlsInstall(const std::string& extraConfig = "") {
    ts::InstallOptions options;
    options.tls = true;
    options.extraConfig = extraConfig;
    return options;
}

} // namespace

TEST(EngineLogE2E, PlainTextFloodOnTheTlsPortRollsTheLogOver) {
    // 20 x 100 bytes per file, two numbered copies.
    ts::InstallTree tree(tlsInstall("\"rollingSize\": 20, \"rollingCount\": 2"));
    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output();
    sendPlainTextToTlsPort(tree.port, 300);

    const std::string log = tree.logDir + "WebServer.log";
    ASSERT_TRUE(ts::fileExists(log + ".1"));
    EXPECT_TRUE(ts::fileExists(log + ".2"));
    EXPECT_FALSE(ts::fileExists(log + ".3"));
    // Past the size by one line at most: the size is checked before a line.
    for (const std::string& path : {log, log + ".1", log + ".2"})
        EXPECT_LT(std::filesystem::file_size(path), 2000u + 512u) << path;
    EXPECT_TRUE(server.running());
}

TEST(EngineLogE2E, FailedConnectionLinesNameNoEarlierRequest) {
    ts::InstallTree tree(tlsInstall());
    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output();

    // Every worker serves one request with a marked URI and ends its
    // connection: a worker stays with its connection from the handshake on,
    // so holding as many connections as there are workers reaches them all.
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()),
                                                          &SSL_CTX_free);
    ASSERT_TRUE(ctx);
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
    constexpr int kWorkers = 50;
    std::vector<std::unique_ptr<TlsConnection>> held;
    for (int i = 0; i < kWorkers; ++i) {
        held.push_back(std::make_unique<TlsConnection>(ctx.get(), tree.port));
        ASSERT_TRUE(held.back()->ready()) << i;
    }
    for (auto& connection : held) {
        const std::string answer = connection->exchange(
            "GET /redfish/v1/EarlierRequestMarker?secret=1 HTTP/1.1\r\nHost: x\r\n"
            "Connection: close\r\n\r\n");
        ASSERT_NE(answer.find("HTTP/1.1 "), std::string::npos);
    }
    held.clear();

    sendPlainTextToTlsPort(tree.port, 2 * kWorkers);
    const std::string log = tree.webServerLog();
    EXPECT_NE(log.find("[error]"), std::string::npos) << log;
    EXPECT_EQ(log.find("EarlierRequestMarker"), std::string::npos) << log;
}
