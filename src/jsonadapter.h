// The one place that knows the JSON library. The server relies on a few
// parse behaviours of its original JSON library; they are kept here:
//  - one top-level object is parsed; text after its closing brace is ignored;
//  - comments (// and /* */) between tokens are accepted;
//  - nesting deeper than 50 containers makes the whole text invalid;
//  - member order is kept; a repeated name keeps one member, at the first
//    one's position, with the last value;
//  - printing is compact (no white space).
// Every parse runs within a budget, since the texts come from clients and
// plug-ins: the nesting limit above, at most 10,000 members written in any
// one object (more makes the whole text invalid), and time linear in the
// text (members are found through a per-object index, never by a search of
// the object). A refused text leaves nothing allocated behind.
#ifndef TOLVANE_JSONADAPTER_H
#define TOLVANE_JSONADAPTER_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace json {

using Value = nlohmann::ordered_json;

constexpr int kNestingLimit = 50;
// Members as written, repeated names included, in any one object.
constexpr size_t kMemberLimit = 10000;

// Text used wherever a conversion fails with an exception (memory exhausted).
constexpr const char* kInternalException = "Internal Exception occurrred";

// Literal texts of the numbers with a fraction or exponent that are direct
// members of a parsed object, by member name (a repeated name: its last value).
// The parsed value keeps only the double, so "1e3" and "1000.0" look alike.
using NumberLiterals = std::map<std::string, std::string>;

// Parses `text` as one JSON object. Returns false (leaving `out` null) when the
// text is not a valid object under the rules above. Never throws, except
// std::bad_alloc, which callers turn into kInternalException. With `literals`,
// also gives the literal texts described above (empty on failure).
bool parseObject(std::string_view text, Value& out, NumberLiterals* literals = nullptr);

// As parseObject, but every number keeps the text it was written with: it is
// held as a binary value of that text, a kind no JSON text gives otherwise.
// For texts passed on as written; see dumpAsWritten and writtenNumber.
bool parseObjectAsWritten(std::string_view text, Value& out);

// Compact JSON text of a value from parseObjectAsWritten, as dump prints it
// except that numbers come out as written.
std::string dumpAsWritten(const Value& v);

// A number held as written, as parseObject reads it; any other value as is.
Value writtenNumber(const Value& v);

// parseObject for callers with no use for the difference: exhausted memory
// also counts as no object (false, `out` null).
bool tryParseObject(std::string_view text, Value& out);

// As parseObject, but the text may also be one array, and without number
// literals; `end`, when given, receives the index one past the closing
// bracket (what follows is ignored). For texts that are only looked at, such
// as a body on its way to the trace file.
bool parseDocument(std::string_view text, Value& out, size_t* end = nullptr);

// Compact JSON text of a value.
std::string dump(const Value& v);

// A value "as text": a string gives its characters, any other value its
// compact JSON text.
std::string asText(const Value& v);

// Member `key` of object `obj` as text; "" when missing or `obj` is no object.
std::string memberText(const Value& obj, const char* key);

// True when `obj` is an object with a member named exactly `key`.
bool hasMember(const Value& obj, const char* key);

// A value "as integer": JSON integer as is; a fraction gives its integer part;
// true 1; false and null 0; the string "true" 1; other strings their leading
// decimal integer after optional white space and sign, else 0; arrays and
// objects 0. Wide results are returned in 64 bits so callers can range-check.
int64_t asInteger64(const Value& v);

// asInteger64 narrowed to 32 bits with wrap-around; for status codes and such.
int32_t asInteger(const Value& v);

// For configuration values: the 32-bit integer, or nothing when the value is
// an array or object or lies outside the 32-bit range. With the number's
// `literal` text (see NumberLiterals), a fraction or exponent number gives the
// integer formed by its leading digits ("1.9" 1, "1e3" 1).
std::optional<int32_t> asConfigInteger(const Value& v, const std::string* literal = nullptr);

// Leading decimal integer of `s` (white space, sign, digits); 0 without digits.
// Saturates at the 64-bit range.
int64_t leadingInteger(std::string_view s);

} // namespace json

#endif
