// The reference server's service root must be what the Redfish server sends,
// byte for byte, or the load figures compare different work.
#include <gtest/gtest.h>

#include "servicerootdocument.h"
#include "testsupport.h"

TEST(ServiceRootDocument, IsByteForByteWhatTheServerSends) {
    ts::InstallTree tree;
    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output();
    const std::string raw = ts::exchange(tree.port, "GET /redfish/v1 HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(raw, bench::kFixedHeaderBlock + bench::serviceRootBody());
    EXPECT_EQ(bench::serviceRootBody().size(), bench::kServiceRootBodySize);
}
