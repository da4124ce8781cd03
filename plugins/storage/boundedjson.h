// The one JSON parser of the plug-in for text it did not build itself:
// request bodies, the login argument, uploaded backups and image headers,
// and its own state files. Parsing runs within a budget (nesting depth,
// members per object, total size) and in time linear in the input: objects
// are built with an index per object instead of the ordered map's linear
// search for every new key. Past the budget the parse stops at once and
// everything built so far is freed.
#ifndef TOLVANE_PLUGIN_BOUNDEDJSON_H
#define TOLVANE_PLUGIN_BOUNDEDJSON_H

#include <cstddef>
#include <stdexcept>
#include <string>

#include "json.h"

namespace tolvane::plugin {

struct JsonBudget {
    size_t maxDepth = 64;       // nested objects and arrays, the outermost counting 1
    size_t maxMembers = 10000;  // members of one object, repeated names counted
    size_t maxBytes = 2u << 20; // the whole text: twice the server's default body limit
};

class JsonTextError : public std::runtime_error {
  public:
    enum class Kind { Malformed, TooLarge, TooDeep, TooManyMembers, NumberOutOfRange };
    JsonTextError(Kind kind, const std::string& what, std::string member = "",
                  std::string token = "")
        : std::runtime_error(what), kind_(kind), member_(std::move(member)),
          token_(std::move(token)) {}
    Kind kind() const { return kind_; }
    // For NumberOutOfRange: the name of the member whose value it was ("" at
    // the top or in an array) and the number's text.
    const std::string& member() const { return member_; }
    const std::string& token() const { return token_; }

  private:
    Kind kind_;
    std::string member_;
    std::string token_;
};

// Parses `text` as one JSON value. A repeated member name keeps the position
// of its first appearance and the value of its last. Throws JsonTextError;
// what() tells why in a few words.
Json parseJson(const std::string& text, const JsonBudget& budget = JsonBudget());

} // namespace tolvane::plugin

#endif
