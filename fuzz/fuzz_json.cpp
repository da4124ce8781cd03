// The JSON adapter: parsing, printing and the value conversions must never
// crash or throw anything but bad_alloc, whatever the text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "jsonadapter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    json::Value v;
    if (json::parseObject(text, v)) {
        std::string printed = json::dump(v);
        json::Value again;
        // Compact output of a parsed object is itself a valid object.
        if (!json::parseObject(printed, again))
            __builtin_trap();
        for (auto it = v.begin(); it != v.end(); ++it) {
            (void)json::asText(*it);
            (void)json::asInteger(*it);
            (void)json::asConfigInteger(*it);
            (void)json::memberText(v, it.key().c_str());
        }
    }
    (void)json::leadingInteger(text);
    return 0;
}
