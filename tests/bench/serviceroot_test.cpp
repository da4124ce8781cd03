#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "servicerootdocument.h"

TEST(ServiceRootDocument, IsTheServersCompactDocumentOf756Bytes) {
    std::string body = bench::serviceRootBody();
    EXPECT_EQ(body.size(), bench::kServiceRootBodySize);
    EXPECT_EQ(body.size(), 756u);
    EXPECT_EQ(body.find_first_of(" \r\n"), body.find("Root Service") + 4)
        << "only the blanks inside values";
    auto doc = nlohmann::ordered_json::parse(body);
    std::vector<std::string> keys;
    for (auto it = doc.begin(); it != doc.end(); ++it)
        keys.push_back(it.key());
    std::vector<std::string> order = {
        "@odata.context", "@odata.id",      "@odata.type",    "Id",
        "Name",           "RedfishVersion", "UUID",           "StorageServices",
        "StorageSystems", "Systems",        "Chassis",        "Managers",
        "Tasks",          "SessionService", "AccountService", "EventService",
        "JsonSchemas"};
    EXPECT_EQ(keys, order);
    EXPECT_EQ(doc["@odata.context"], "/redfish/v1/$metadata#ServiceRoot");
    EXPECT_EQ(doc["@odata.type"], "#ServiceRoot.1.0.2.ServiceRoot");
    EXPECT_EQ(doc["UUID"], "Not Aplicable");
    EXPECT_EQ(doc["Tasks"]["@odata.id"], "/redfish/v1/TaskService");
    EXPECT_EQ(doc["JsonSchemas"].dump(), "{\"@odata.id\":\"/redfish/v1/JsonSchemas\"}");
}

TEST(ServiceRootDocument, HeaderBlockIsTheServersFixedOne) {
    EXPECT_STREQ(bench::kFixedHeaderBlock, "HTTP/1.1 200 Ok\r\nContent-Type:application/json\r\n"
                                           "Connection: keep-alive\r\n\r\n");
}
