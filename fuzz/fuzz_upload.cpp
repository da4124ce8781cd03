// The upload rules: action lookup, the stored base name, field conversion,
// form field collection and the argument handed to the plug-in. The input is
// read as a script: a URI, a client file name, then form parts and pieces.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "jsonadapter.h"
#include "postrules.h"
#include "routes/routetable.h"
#include "uploadrules.h"

namespace {

void check(bool cond, const char* what) {
    if (!cond) {
        std::fprintf(stderr, "fuzz_upload: %s\n", what);
        __builtin_trap();
    }
}

bool printable(const std::string& s) {
    for (unsigned char c : s) {
        if (c < 0x20 || c > 0x7e)
            return false;
    }
    return true;
}

bool startsWithDigit(const std::string& s) {
    return !s.empty() && s[0] >= '0' && s[0] <= '9';
}

// Booleans from "true" and "false"; the number of the leading digits when
// they fit 32 bits; else the text itself.
void checkConversion(const std::string& text) {
    const json::Value v = convertFieldValue(text);
    if (text == "true" || text == "false") {
        check(v.is_boolean() && v.get<bool>() == (text == "true"), "a boolean text not converted");
    } else if (v.is_number_integer()) {
        check(startsWithDigit(text), "a number from a text without leading digits");
        const int64_t n = v.get<int64_t>();
        check(n >= 0 && n <= INT32_MAX, "a number outside the 32-bit range");
        check(json::leadingInteger(text) == n, "the number differs from the leading digits");
    } else {
        check(v.is_string() && v.get<std::string>() == text, "a text changed on conversion");
        check(!startsWithDigit(text) || json::leadingInteger(text) > INT32_MAX,
              "leading digits that fit 32 bits stayed a string");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string uri = in.ConsumeRandomLengthString(256);
    const Route route = routeOf(uri);
    const OemUploadAction* action = route.upload;
    check(route.allow && *route.allow, "a route that allows no method");
    // An OEM action is found by its name; the push URI (a path) as segments compare.
    if (route.upload && route.upload->name[0] != '/')
        check(containsIgnoreCase(uri, route.upload->name), "an action whose name the URI lacks");

    const std::string clientName = in.ConsumeRandomLengthString(256);
    const std::string base = uploadBaseName(clientName);
    check(base.find_first_of("/\\") == std::string::npos, "a base name with a separator");
    check(clientName.size() >= base.size() &&
              clientName.compare(clientName.size() - base.size(), base.size(), base) == 0,
          "a base name that does not end the client name");
    if (isStorableBaseName(base))
        check(base != "." && base != ".." && !base.empty(), "a storable name names no file");

    FormFieldCollector collector;
    bool stopped = false;
    while (!stopped && in.remaining_bytes() > 0) {
        if (in.ConsumeBool()) {
            if (collector.beginPart(in.ConsumeRandomLengthString(64)) !=
                FormFieldCollector::Result::Continue)
                stopped = true;
        } else {
            // Large pieces now and then, to reach the value limit.
            const size_t repeat = in.ConsumeBool() ? in.ConsumeIntegralInRange<size_t>(1, 40) : 1;
            std::string piece = in.ConsumeRandomLengthString(4096);
            std::string value;
            for (size_t i = 0; i < repeat; ++i)
                value += piece;
            if (collector.addPiece(value.data(), value.size()) !=
                FormFieldCollector::Result::Continue)
                stopped = true;
        }
    }
    check(collector.partCount() <= kMaxFormParts + 1, "parts beyond the limit were counted");
    std::set<std::string> names;
    for (const auto& field : collector.fields()) {
        check(!field.second.empty(), "an empty field was kept");
        check(field.second.size() <= kMaxFormFieldValueBytes, "a field beyond the value limit");
        checkConversion(field.second);
        names.insert(field.first);
    }

    const std::string path = "/var/uploads/" + base;
    const std::string logPath = "/var/uploads/log.txt";
    const std::string text = buildUploadArgument(
        collector.fields(), path, action && action->withLogFile ? &logPath : nullptr);
    json::Value argument;
    check(json::parseObject(text, argument), "the upload argument is not an object");
    names.insert("absoluteFilePath");
    if (action && action->withLogFile)
        names.insert("logFilePath");
    bool plainNames = printable(path);
    for (const std::string& name : names)
        plainNames = plainNames && printable(name);
    // Invalid UTF-8 is replaced when printed, so only plain names must come
    // back one for one.
    if (plainNames) {
        check(argument.size() == names.size(), "the argument lost or added a member");
        check(json::memberText(argument, "absoluteFilePath") == path,
              "the argument does not carry the stored path");
    }
    return 0;
}
