// The standard answer writer's rules, one table row per rule a client or an
// attacker depends on.
#include <gtest/gtest.h>

#include <string>

#include "protocol/requestrules.h"
#include "answer/standardanswer.h"

namespace {

std::string headerOf(const std::string& bytes, const std::string& name) {
    const std::string key = "\r\n" + name + ": ";
    const size_t at = bytes.find(key);
    if (at == std::string::npos)
        return "(absent)";
    const size_t start = at + key.size();
    return bytes.substr(start, bytes.find("\r\n", start) - start);
}

std::string bodyOf(const std::string& bytes) {
    return bytes.substr(bytes.find("\r\n\r\n") + 4);
}

const char* const kRoot =
    "{\"@odata.id\":\"/redfish/v1\",\"Links\":{\"@odata.type\":\"#X.v9_9_9.X\"},"
    "\"@odata.type\":\"#ServiceRoot.v1_20_0.ServiceRoot\"}";

} // namespace

struct HeaderCase {
    const char* name;
    AnswerContext request;
    Answer answer;
    const char* header;
    const char* expected;
};

TEST(StandardAnswer, HeadersFollowTheRequestAndTheAnswer) {
    const AnswerContext get{"GET", "/redfish/v1/", false, true, ""};
    const AnswerContext tlsGet{"GET", "/redfish/v1/", true, false, ""};
    const AnswerContext post{"POST", "/redfish/v1/SessionService/Sessions", false, true, ""};
    const Answer root{200, {{"Content-Type", "application/json"}}, kRoot};
    const Answer login{201, {{"X-Auth-Token", "t"}, {"Location", "/s/1"}}, "{}"};
    const HeaderCase cases[] = {
        {"length of the body", get, root, "Content-Length", "114"},
        {"OData version", get, root, "OData-Version", "4.0"},
        {"reads may be revalidated", get, root, "Cache-Control", "no-cache"},
        {"a token is never stored", post, login, "Cache-Control", "no-store"},
        {"framing", get, root, "X-Frame-Options", "DENY"},
        {"sniffing", get, root, "X-Content-Type-Options", "nosniff"},
        {"no HSTS in plain HTTP", get, root, "Strict-Transport-Security", "(absent)"},
        {"HSTS over TLS", tlsGet, root, "Strict-Transport-Security", "max-age=15552000"},
        {"keep-alive", get, root, "Connection", "keep-alive"},
        {"close", tlsGet, root, "Connection", "close"},
        {"schema of the top-level type", get, root, "Link",
         "<http://redfish.dmtf.org/schemas/v1/ServiceRoot.v1_20_0.json>; rel=describedby"},
        {"methods of a read", get, root, "Allow", "GET, HEAD"},
        {"methods with a 405", post, {405, {}, ""}, "Allow", "GET, HEAD, POST"},
        {"challenge with a 401", get, {401, {}, ""}, "WWW-Authenticate", "Basic realm=\"Redfish\""},
        {"created resource named", post, login, "Location", "/s/1"},
        {"created resource found",
         post,
         {201, {}, R"({"A":{"@odata.id":"/no"},"@odata.id":"/v/2"})"},
         "Location",
         "/v/2"},
        {"only a path is a location",
         post,
         {201, {}, R"({"@odata.id":"http://x/v/2"})"},
         "Location",
         "(absent)"},
        {"no entity tag on a change", post, login, "ETag", "(absent)"},
        {"produced framing is replaced",
         get,
         {200, {{"Connection", "close"}, {"Content-Length", "999"}}, "{}"},
         "Content-Length",
         "2"},
    };
    for (const HeaderCase& c : cases) {
        const std::string bytes = standardAnswerBytes(c.request, c.answer);
        EXPECT_EQ(headerOf(bytes, c.header), c.expected) << c.name << "\n" << bytes;
    }
}

// A header value that could end the head early (response splitting) never
// reaches the client, and neither does the rest of that answer.
TEST(StandardAnswer, HeaderInjectionBecomesAnInternalError) {
    const AnswerContext get{"GET", "/redfish/v1/x", false, true, ""};
    const std::string values[] = {"a\rSet-Cookie: x=1", "a\nSet-Cookie: x=1",
                                  std::string("a\0Set-Cookie: x=1", 17)};
    for (const std::string& value : values) {
        const std::string bytes =
            standardAnswerBytes(get, {200, {{"Location", value}}, "{\"secret\":1}"});
        EXPECT_EQ(bytes.rfind("HTTP/1.1 500 ", 0), 0u) << bytes;
        EXPECT_EQ(bytes.find("Set-Cookie"), std::string::npos) << bytes;
        EXPECT_EQ(bytes.find("secret"), std::string::npos) << bytes;
    }
}

// Every error carries a Redfish error object; a plug-in's own stays as it is.
TEST(StandardAnswer, ErrorsCarryRedfishErrorObjects) {
    const AnswerContext get{"GET", "/redfish/v1/Nothing", false, true, ""};
    const struct {
        int status;
        const char* body;
        const char* messageId;
    } cases[] = {
        {400, "", "Base.1.22.1.GeneralError"},
        {401, "Unauthorized user", "Base.1.22.1.NoValidSession"},
        {404, "Data is NULL", "Base.1.22.1.ResourceMissingAtURI"},
        {405, "", "Base.1.22.1.OperationNotAllowed"},
        {412, "", "Base.1.22.1.PreconditionFailed"},
        {413, "", "Base.1.22.1.PayloadTooLarge"},
        {500, "root parse failed", "Base.1.22.1.InternalError"},
        {501, "", "Base.1.22.1.OperationNotAllowed"},
        {409, "{\"error\":{\"code\":\"Own.Conflict\",\"@Message.ExtendedInfo\":[]}}",
         "Own.Conflict"},
        {400, "{\"error\":{\"message\":\"no code\"}}", "Base.1.22.1.GeneralError"},
    };
    for (const auto& c : cases) {
        const std::string bytes =
            standardAnswerBytes(get, {c.status, {{"Content-Type", "text/plain"}}, c.body});
        EXPECT_NE(bodyOf(bytes).find(c.messageId), std::string::npos) << bytes;
        EXPECT_EQ(headerOf(bytes, "Content-Type"), "application/json") << bytes;
    }
}

TEST(StandardAnswer, HeadAndConditionalReadsLeaveTheBodyOut) {
    const Answer root{200, {{"Content-Type", "application/json"}}, kRoot};
    const std::string tag = entityTagOf(kRoot);
    EXPECT_EQ(tag.size(), 34u);
    EXPECT_NE(tag, entityTagOf(std::string(kRoot) + " "));

    const std::string head = standardAnswerBytes({"HEAD", "/redfish/v1/", false, true, ""}, root);
    EXPECT_EQ(bodyOf(head), "");
    EXPECT_EQ(headerOf(head, "Content-Length"), "114");
    EXPECT_EQ(headerOf(head, "ETag"), tag);

    for (const std::string& ifNoneMatch :
         {tag, "W/" + tag, "\"other\", " + tag, std::string("*")}) {
        const std::string bytes =
            standardAnswerBytes({"GET", "/redfish/v1/", false, true, ifNoneMatch}, root);
        EXPECT_EQ(bytes.rfind("HTTP/1.1 304 ", 0), 0u) << ifNoneMatch;
        EXPECT_EQ(bodyOf(bytes), "") << ifNoneMatch;
        EXPECT_EQ(headerOf(bytes, "Content-Type"), "(absent)") << ifNoneMatch;
    }
    const std::string stale =
        standardAnswerBytes({"GET", "/redfish/v1/", false, true, "\"other\""}, root);
    EXPECT_EQ(stale.rfind("HTTP/1.1 200 ", 0), 0u);
    EXPECT_EQ(bodyOf(stale), kRoot);
    // A resource's own tag is its header's; a malformed one is not used.
    EXPECT_EQ(resourceEntityTag(R"({"@odata.etag":"\"v7\"","A":1})"), "\"v7\"");
    EXPECT_EQ(resourceEntityTag(R"({"@odata.etag":"W/\"v7\""})"), "W/\"v7\"");
    for (const char* body : {R"({"@odata.etag":"v7"})", R"({"@odata.etag":"\"a\r\nB: c\""})",
                             R"({"X":{"@odata.etag":"\"inner\""}})"})
        EXPECT_EQ(resourceEntityTag(body), entityTagOf(body)) << body;
    EXPECT_FALSE(entityTagListNames("", tag));
    EXPECT_FALSE(entityTagListNames("\"\"", ""));
}

TEST(StandardAnswer, OnlyTakenODataQueryOptionsPass) {
    const struct {
        const char* query;
        const char* refused;
    } cases[] = {
        {nullptr, ""},
        {"", ""},
        {"$expand=*", ""},
        {"only=1&$EXPAND=.", ""},
        {"$top=2&$skip=4", ""},
        {"a=1&%24select=Name", "%24select"},
        {"$rpvunknown", "$rpvunknown"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(unsupportedQueryOption(c.query), c.refused) << (c.query ? c.query : "null");
}

TEST(StandardAnswer, PagingOptionsTakeOnlyCounts) {
    const struct {
        const char* query;
        std::pair<std::string, std::string> bad;
    } cases[] = {
        {"$top=2&$skip=0", {}},
        {"$expand=*&$top=", {"$top", ""}},
        {"%24skip=-1", {"%24skip", "-1"}},
        {"$top=1234567890", {"$top", "1234567890"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(badPagingOption(c.query), c.bad) << c.query;
}
