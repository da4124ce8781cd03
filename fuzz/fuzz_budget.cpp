// The parse budget and the password masking on hostile texts: deep nesting,
// floods of members, bodies that do not parse. An input may ask for a part
// of it to be repeated, so a short input stands for a text far larger than
// the fuzzer would write: two bytes of count, then head, unit and tail
// separated by NUL bytes, giving head + unit x count + tail, where a byte 1
// in the unit stands for the repetition's number (distinct names). Whatever the
// text, a parse keeps the budget, masking leaves no password value that a
// parse of its output would find, and an escaped log text has no control
// character left.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "jsonadapter.h"
#include "logescape.h"
#include "passwordmask.h"
#include "support/fuzzcheck.h"

namespace {

// Enough for a member flood past the limit and nesting far past it.
constexpr size_t kMaxExpanded = 256 * 1024;

std::string expand(const uint8_t* data, size_t size) {
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const size_t first = raw.find('\0', 2);
    const size_t second = first == std::string::npos ? first : raw.find('\0', first + 1);
    if (size < 2 || second == std::string::npos)
        return raw;
    const std::string head = raw.substr(2, first - 2);
    const std::string unit = raw.substr(first + 1, second - first - 1);
    const std::string tail = raw.substr(second + 1);
    size_t count = static_cast<size_t>(data[0]) << 8 | data[1];
    if (!unit.empty() && count > kMaxExpanded / unit.size())
        count = kMaxExpanded / unit.size();
    const size_t number = unit.find('\1');
    std::string text = head;
    for (size_t i = 0; i < count && text.size() < kMaxExpanded; ++i) {
        if (number == std::string::npos)
            text += unit;
        else
            text.append(unit, 0, number).append(std::to_string(i)).append(unit, number + 1);
    }
    return text + tail;
}

bool isPasswordName(const std::string& name) {
    if (name.size() != 8)
        return false;
    for (size_t i = 0; i < 8; ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != "password"[i])
            return false;
    }
    return true;
}

// Walks a parsed value without recursion: nesting and members within the
// budget; with `masked`, every password member holds the mask.
void checkTree(const json::Value& root, bool masked) {
    std::vector<std::pair<const json::Value*, int>> pending{{&root, 1}};
    while (!pending.empty()) {
        const auto [v, depth] = pending.back();
        pending.pop_back();
        if (!v->is_structured())
            continue;
        FUZZ_CHECK(depth <= json::kNestingLimit);
        if (v->is_object())
            FUZZ_CHECK(v->size() <= json::kMemberLimit);
        for (auto it = v->begin(); it != v->end(); ++it) {
            if (masked && v->is_object() && isPasswordName(it.key()))
                FUZZ_CHECK(*it == json::Value("******"));
            pending.emplace_back(&*it, depth + 1);
        }
    }
}

void checkAdapter(const std::string& text) {
    json::Value object;
    const bool isObject = json::parseObject(text, object);
    json::Value document;
    size_t end = 0;
    const bool isDocument = json::parseDocument(text, document, &end);
    FUZZ_CHECK(!isObject || isDocument);
    FUZZ_CHECK(isObject || object.is_null());
    if (isDocument) {
        FUZZ_CHECK(end <= text.size());
        checkTree(document, false);
        if (isObject)
            FUZZ_CHECK(json::dump(object) == json::dump(document));
    }
}

void checkMasking(const std::string& text) {
    const std::string masked = maskPasswords(text);
    json::Value parsed;
    if (json::parseDocument(masked, parsed))
        checkTree(parsed, true);
}

void checkEscaping(const std::string& text) {
    std::string escaped;
    logtext::appendEscaped(escaped, text.data(), text.size());
    FUZZ_CHECK(logtext::firstControl(escaped.data(), escaped.size()) == escaped.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = expand(data, size);
    checkAdapter(text);
    checkMasking(text);
    checkEscaping(text);
    return 0;
}
