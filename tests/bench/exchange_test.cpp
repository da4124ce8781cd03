#include <gtest/gtest.h>

#include <netinet/in.h>

#include <chrono>
#include <thread>

#include "testsupport.h"
#include "exchange.h"

using ts::CannedServer;

TEST(Exchange, ResolvesNumericAddressesOnly) {
    bench::Endpoint endpoint;
    std::string error;
    ASSERT_TRUE(bench::resolveEndpoint("127.0.0.1", 8443, endpoint, error));
    EXPECT_EQ(endpoint.address.ss_family, AF_INET);
    EXPECT_EQ(endpoint.length, sizeof(sockaddr_in));
    ASSERT_TRUE(bench::resolveEndpoint("::1", 8443, endpoint, error));
    EXPECT_EQ(endpoint.address.ss_family, AF_INET6);
    EXPECT_FALSE(bench::resolveEndpoint("localhost", 8443, endpoint, error));
    EXPECT_NE(error.find("localhost"), std::string::npos);
}

TEST(Exchange, SendsTheExactBytesAndReadsEverythingUntilClose) {
    // A body far larger than one read, with every byte value in it.
    std::string body;
    for (int i = 0; i < 300000; ++i)
        body += static_cast<char>(i * 31 % 256);
    std::string reply = "HTTP/1.1 200 Ok\r\nContent-Type:application/json\r\n\r\n" + body;
    CannedServer server([&](int, const std::string&) { return reply; });
    bench::Endpoint endpoint;
    std::string error;
    ASSERT_TRUE(bench::resolveEndpoint("127.0.0.1", server.port(), endpoint, error));
    bench::Exchanger exchanger(endpoint, nullptr, 5000);
    std::string request = "POST /x HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc";
    std::string response = "stale";
    auto result = exchanger.exchange(request, response);
    EXPECT_EQ(result.error, bench::ErrorKind::None) << result.detail;
    EXPECT_EQ(response, reply);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], request);
}

TEST(Exchange, ReportsARefusedConnection) {
    bench::Endpoint endpoint;
    std::string error;
    ASSERT_TRUE(bench::resolveEndpoint("127.0.0.1", ts::freePort(), endpoint, error));
    bench::Exchanger exchanger(endpoint, nullptr, 2000);
    std::string response;
    auto result = exchanger.exchange("GET / HTTP/1.1\r\n\r\n", response);
    EXPECT_EQ(result.error, bench::ErrorKind::Connect);
    EXPECT_NE(result.detail.find("refused"), std::string::npos) << result.detail;
}

TEST(Exchange, TlsHandshakeWithAPlainServerFailsAsHandshake) {
    CannedServer server(
        [](int, const std::string&) { return std::string("HTTP/1.1 400 Bad\r\n\r\n"); });
    bench::Endpoint endpoint;
    std::string error;
    ASSERT_TRUE(bench::resolveEndpoint("127.0.0.1", server.port(), endpoint, error));
    bench::TlsClientContext tls(false, "");
    bench::Exchanger exchanger(endpoint, &tls, 3000);
    std::string response;
    auto result = exchanger.exchange("GET / HTTP/1.1\r\n\r\n", response);
    EXPECT_EQ(result.error, bench::ErrorKind::Handshake);
    EXPECT_FALSE(result.detail.empty());
}

TEST(Exchange, ReadTimeOutIsAReadError) {
    CannedServer server([](int, const std::string&) {
        // A server slower than the read time-out is the behaviour under test.
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        return std::string("HTTP/1.1 200 Ok\r\n\r\n");
    });
    bench::Endpoint endpoint;
    std::string error;
    ASSERT_TRUE(bench::resolveEndpoint("127.0.0.1", server.port(), endpoint, error));
    bench::Exchanger exchanger(endpoint, nullptr, 150);
    std::string response;
    auto result = exchanger.exchange("GET / HTTP/1.1\r\n\r\n", response);
    EXPECT_EQ(result.error, bench::ErrorKind::Read);
    EXPECT_NE(result.detail.find("timed out"), std::string::npos) << result.detail;
}

TEST(Exchange, KeptAnswerEndsAtItsLength) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n";
    const struct {
        std::string bytes;
        size_t length;
    } cases[] = {
        {head + "abcd", head.size() + 4},
        {head + "abcdHTTP/1.1 200", head.size() + 4}, // the next answer's start stays out
        {head + "abc", 0},
        {"HTTP/1.1 200 OK\r\ncontent-length:0\r\n\r\n", 37},
        {"HTTP/1.1 200 OK\r\nX-Content-Length: 1\r\n\r\n", 0}, // no length: read to the close
        {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bench::completeAnswerLength(c.bytes), c.length) << c.bytes;
}

TEST(Exchange, KeptConnectionTheServerClosedIsReplaced) {
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    CannedServer server([&](int, const std::string&) { return reply; });
    bench::Endpoint endpoint;
    std::string error;
    ASSERT_TRUE(bench::resolveEndpoint("127.0.0.1", server.port(), endpoint, error));
    bench::Exchanger exchanger(endpoint, nullptr, 5000, true);
    for (int i = 0; i < 3; ++i) {
        std::string response;
        auto result = exchanger.exchange("GET / HTTP/1.1\r\n\r\n", response);
        EXPECT_EQ(result.error, bench::ErrorKind::None) << i << " " << result.detail;
        EXPECT_EQ(response, reply) << i;
    }
    EXPECT_EQ(server.connections(), 3);
}
