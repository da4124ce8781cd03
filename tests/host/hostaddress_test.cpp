// chooseHostAddress: which configured address becomes the handler's host name.
#include <gtest/gtest.h>

#include "redfishserver/serverconfig.h"
#include "redfishserver/serverroutine.h"

namespace {

class HostAddress : public ::testing::Test {
  protected:
    void SetUp() override { ServerConfig = ServerConfiguration(); }
    void TearDown() override { ServerConfig = ServerConfiguration(); }
};

TEST_F(HostAddress, HttpsAddressWinsWhenHttpsIsOn) {
    ServerConfig.CommunicationProtocolHttps = true;
    ServerConfig.CommunicationHostAddressHttps = "10.1.2.3";
    ServerConfig.CommunicationProtocolHttp = true;
    ServerConfig.CommunicationHostAddressHttp = "10.9.9.9";
    EXPECT_EQ(chooseHostAddress(), "10.1.2.3");
}

TEST_F(HostAddress, HttpAddressWhenHttpsIsOffOrUnset) {
    ServerConfig.CommunicationProtocolHttps = false;
    ServerConfig.CommunicationHostAddressHttps = "10.1.2.3";
    ServerConfig.CommunicationProtocolHttp = true;
    ServerConfig.CommunicationHostAddressHttp = "10.9.9.9";
    EXPECT_EQ(chooseHostAddress(), "10.9.9.9");

    ServerConfig.CommunicationProtocolHttps = true;
    ServerConfig.CommunicationHostAddressHttps = "0.0.0.0";
    EXPECT_EQ(chooseHostAddress(), "10.9.9.9");
}

TEST_F(HostAddress, AnyAddressInAnyLetterCaseCountsAsUnset) {
    ServerConfig.CommunicationProtocolHttps = true;
    ServerConfig.CommunicationHostAddressHttps = "0.0.0.0";
    ServerConfig.CommunicationProtocolHttp = true;
    ServerConfig.CommunicationHostAddressHttp = "0.0.0.0";
    EXPECT_EQ(chooseHostAddress(), "127.0.0.1");

    ServerConfig.CommunicationHostAddressHttps = "host.EXAMPLE";
    EXPECT_EQ(chooseHostAddress(), "host.EXAMPLE");
    // Near misses are real addresses.
    ServerConfig.CommunicationHostAddressHttps = "0.0.0.00";
    EXPECT_EQ(chooseHostAddress(), "0.0.0.00");
    ServerConfig.CommunicationHostAddressHttps = " 0.0.0.0";
    EXPECT_EQ(chooseHostAddress(), " 0.0.0.0");
}

TEST_F(HostAddress, AbsentHttpsAddressIsTheEmptyString) {
    ServerConfig.CommunicationProtocolHttps = true;
    ServerConfig.CommunicationProtocolHttp = true;
    ServerConfig.CommunicationHostAddressHttp = "10.9.9.9";
    EXPECT_EQ(chooseHostAddress(), "");
}

TEST_F(HostAddress, BothProtocolsOffGivesLoopbackWhateverIsConfigured) {
    ServerConfig.CommunicationHostAddressHttps = "10.1.2.3";
    ServerConfig.CommunicationHostAddressHttp = "10.9.9.9";
    EXPECT_EQ(chooseHostAddress(), "127.0.0.1");
}

TEST_F(HostAddress, HttpOnWithAnyAddressGivesLoopback) {
    ServerConfig.CommunicationProtocolHttp = true;
    ServerConfig.CommunicationHostAddressHttp = "0.0.0.0";
    EXPECT_EQ(chooseHostAddress(), "127.0.0.1");
    ServerConfig.CommunicationHostAddressHttp = "";
    EXPECT_EQ(chooseHostAddress(), "");
}

} // namespace
