// A quick reading of plug-in replies that are already in the form the JSON
// library prints: compact, integers only, plain string escapes, no repeated
// member names. For such a text, the "Data" value as printed by the library is
// its own text, so the reply conversion can take it without building and
// printing a document. Anything else is left to the full conversion.
#ifndef TOLVANE_COMPACTREPLY_H
#define TOLVANE_COMPACTREPLY_H

#include <cstdint>
#include <string>
#include <string_view>

struct CompactReply {
    bool hasStatus = false;
    int64_t status = 0;
    bool hasData = false;
    bool dataIsString = false;
    // The "Data" value's text; for a string, without its quotation marks and
    // with its escapes still in place.
    std::string_view data;
};

// True when `text` is one JSON object (anything after it ignored, as the
// full conversion does) in the printed form described above, with "HttpStatus",
// when present, an integer; `out` then describes it. False says nothing about
// the text's validity: the full conversion decides.
bool readCompactReply(std::string_view text, CompactReply& out);

// The characters of a string value's text as `readCompactReply` gives it
// (escapes resolved).
void appendUnescaped(std::string_view escaped, std::string& out);

#endif
