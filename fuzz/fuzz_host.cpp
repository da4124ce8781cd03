// The Host header rule: the server's host name is the value's host part, a
// prefix of the value without a port; it is handed to the plug-in inside the
// login argument, which must stay a valid object for any printable name.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "hostheader.h"
#include "jsonadapter.h"
#include "loginrules.h"

namespace {

void check(bool cond, const char* what) {
    if (!cond) {
        std::fprintf(stderr, "fuzz_host: %s\n", what);
        __builtin_trap();
    }
}

bool printableAscii(std::string_view s) {
    for (unsigned char c : s) {
        if (c < 0x20 || c > 0x7e)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view value(reinterpret_cast<const char*>(data), size);
    const std::string host = hostNameFromHostHeader(value);
    check(value.compare(0, host.size(), host) == 0, "the host name is not a prefix of the value");
    const bool bracketed = !value.empty() && value[0] == '[' && value.find(']') != value.npos;
    if (bracketed) {
        check(host.back() == ']' && host.find(']') == host.size() - 1,
              "a bracketed name does not end at its first closing bracket");
    } else {
        check(host.find(':') == std::string::npos, "the host name keeps a port");
        check(host.size() == value.size() || value[host.size()] == ':',
              "the host name does not end at the first colon");
    }
    if (printableAscii(host)) {
        json::Value argument;
        check(json::parseObject(buildLoginArgument(host, "{}"), argument),
              "the login argument is not an object");
        check(json::memberText(argument, "x-forwarded-for") == host,
              "the login argument does not carry the host name");
    }
    return 0;
}
