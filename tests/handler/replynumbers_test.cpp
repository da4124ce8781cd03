// Numbers in a plug-in's reply reach the client as the plug-in wrote them,
// on whichever road the reply takes; everything else stays as the library
// prints it, and what the parser refuses is still refused.
#include <gtest/gtest.h>

#include <string>

#include "compactreply.h"
#include "jsonadapter.h"
#include "redfishserverhandler.h"

namespace {

struct Read {
    bool taken;
    int64_t status;
    std::string body;
};

// Status and body as the reply conversion gives them from a read reply.
Read readAsWritten(const std::string& reply) {
    CompactReply read;
    Read got{readReplyAsWritten(reply, read), read.status, std::string()};
    if (read.dataIsString)
        appendUnescaped(read.data, got.body);
    else
        got.body.assign(read.data.data(), read.data.size());
    return got;
}

TEST(ReplyNumbers, NumbersAreNotReprintedByTheLibrary) {
    struct Row {
        const char* reply;
        int64_t status;
        const char* body;
    };
    const Row rows[] = {
        {R"({"HttpStatus":200,"Data":1.50})", 200, "1.50"},
        {R"({"HttpStatus":200,"Data":[1e3,1E+03,2.5e-7,1e-400,0.0]})", 200,
         "[1e3,1E+03,2.5e-7,1e-400,0.0]"},
        {R"({"HttpStatus":200,"Data":{"Serial":12345678901234567890123}})", 200,
         R"({"Serial":12345678901234567890123})"},
        {R"({"HttpStatus":200,"Data":[-98765432109876543210,18446744073709551615]})", 200,
         "[-98765432109876543210,18446744073709551615]"},
        {R"({"HttpStatus":200,"Data":[-0,-0.0,0,-9223372036854775808]})", 200,
         "[-0,-0.0,0,-9223372036854775808]"},
        {R"({"HttpStatus":200,"Data":-0})", 200, "-0"},
        {R"({"HttpStatus":200,"Data":{"a":[0.10,{"b":[1.0e0,{"c":-2.50E-3}]}],"d":7}})", 200,
         R"({"a":[0.10,{"b":[1.0e0,{"c":-2.50E-3}]}],"d":7})"},
        // A string is its characters, numbers in it included.
        {R"({"HttpStatus":200,"Data":"1.50 and 1e3"})", 200, "1.50 and 1e3"},
        {R"({"HttpStatus":200,"Data":"a\\nb\u0041\"\n/"})", 200, "a\\nbA\"\n/"},
        // Blanks, line breaks and comments between tokens go; numbers stay.
        {"{ \"HttpStatus\" : 200 ,\n \"Data\" : { \"Reading\" : 21.50 ,\t\"List\" : [ 1e3 , 2 ] "
         "} }",
         200, R"({"Reading":21.50,"List":[1e3,2]})"},
        {"{\"HttpStatus\":201,/* c */\"Data\":[1.0 // x\n]} ignored", 201, "[1.0]"},
        // A repeated name keeps its first place and its last value.
        {R"({"HttpStatus":200,"Data":{"a":1.0,"b":2,"a":3.50}})", 200, R"({"a":3.50,"b":2})"},
        // Escapes and characters beyond ASCII come out as the library prints them.
        {R"({"HttpStatus":200,"Data":{"k\u00e9\/":"\u001f\u00e9\/\ud83d\ude00 \"q\" \\ \t"}})", 200,
         "{\"k\xc3\xa9/\":\"\\u001f\xc3\xa9/\xf0\x9f\x98\x80 \\\"q\\\" \\\\ \\t\"}"},
        // The status is read as before, whatever its form.
        {R"({"HttpStatus":2.019e2,"Data":1e3})", 201, "1e3"},
        {R"({"HttpStatus":"404","Data":[2.00]})", 404, "[2.00]"},
        {R"({"HttpStatus":-0,"Data":{}})", 0, "{}"},
    };
    for (const Row& row : rows) {
        const Read got = readAsWritten(row.reply);
        EXPECT_TRUE(got.taken) << row.reply;
        EXPECT_EQ(got.status, row.status) << row.reply;
        EXPECT_EQ(got.body, row.body) << row.reply;
    }
}

TEST(ReplyNumbers, TextsTheParserRefusesAreStillRefused) {
    const std::string tooLong = "1" + std::string(400, '0');
    const std::string rows[] = {
        R"({"HttpStatus":200,"Data":1e999})",
        R"({"HttpStatus":200,"Data":-1E+400})",
        "{\"HttpStatus\":200,\"Data\":" + tooLong + "}",
        R"({"HttpStatus":200,"Data":[1.]})",
        R"({"HttpStatus":200,"Data":.5})",
        R"({"HttpStatus":200,"Data":01})",
        R"({"HttpStatus":200,"Data":+1})",
        R"({"HttpStatus":200,"Data":1e})",
        R"({"HttpStatus":200,"Data":[1,]})",
        R"([{"HttpStatus":200}])",
        "{\"HttpStatus\":200,\"Data\":\"bad \xff byte\"}",
        "{\"HttpStatus\":200,\"Data\":" + std::string(50, '[') + std::string(50, ']') + "}",
    };
    for (const std::string& reply : rows) {
        json::Value ignored;
        EXPECT_FALSE(json::parseObject(reply, ignored)) << reply;
        EXPECT_FALSE(readAsWritten(reply).taken) << reply;
    }
}

} // namespace

// The same through the handler's reply conversion, which every answer uses.
TEST(ReplyNumbers, ConvertedAnswersKeepNumbersAsWritten) {
    struct Row {
        const char* reply;
        int32_t status;
        const char* body;
    };
    for (const Row& row : {
             Row{R"({"HttpStatus":200,"Data":{"CapacityGiB":1.50,"Blocks":1e3}})", 200,
                 R"({"CapacityGiB":1.50,"Blocks":1e3})"},
             Row{R"({ "HttpStatus" : 201 , "Data" : [ 12345678901234567890123 ] })", 201,
                 "[12345678901234567890123]"},
             Row{R"({"HttpStatus":200,"Data":"1.50"})", 200, "1.50"},
             Row{"not json", 500, "root parse failed"},
         }) {
        std::string body;
        EXPECT_EQ(convertPluginReply(row.reply, body), row.status) << row.reply;
        EXPECT_EQ(body, row.body) << row.reply;
    }
}
