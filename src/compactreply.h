// A quick reading of plug-in replies that are already in the form the JSON
// library prints: compact, integers only, plain string escapes, no repeated
// member names. For such a text, the "Data" value as printed by the library is
// its own text, so the reply conversion can take it without building and
// printing a document. Anything else is left to the full conversion, which
// keeps numbers as written too.
#ifndef TOLVANE_COMPACTREPLY_H
#define TOLVANE_COMPACTREPLY_H

#include <cstdint>
#include <string>
#include <string_view>

struct CompactReply {
    CompactReply() = default;
    // `data` may point into `text`: a copy would point into the original.
    CompactReply(const CompactReply&) = delete;
    CompactReply& operator=(const CompactReply&) = delete;

    bool hasStatus = false;
    int64_t status = 0;
    bool hasData = false;
    bool dataIsString = false;
    // The "Data" value's text; for a string, without its quotation marks and
    // with escapes that `appendUnescaped` resolves. Points into the reply or
    // into `text`.
    std::string_view data;
    // Text made by `readReplyAsWritten`.
    std::string text;
};

// True when `text` is one JSON object (anything after it ignored, as the
// full conversion does) in the printed form described above, with "HttpStatus",
// when present, an integer; `out` then describes it. False says nothing about
// the text's validity: the full conversion decides.
bool readCompactReply(std::string_view text, CompactReply& out);

// The full conversion: true when `text` starts (after white space and
// comments) with an object that json::parseObject takes, within the same
// budgets; false exactly when it refuses it. "HttpStatus" is read as
// json::asInteger64 reads it. "Data" that is no string is given in compact
// form as the library prints it, except that every number keeps the text it
// was written with ("1.50", "1e3", "-0", integers of any length).
bool readReplyAsWritten(std::string_view text, CompactReply& out);

// The characters of a string value's text as `readCompactReply` gives it
// (escapes resolved).
void appendUnescaped(std::string_view escaped, std::string& out);

// The reply envelope {"HttpStatus":..,"Data":..} of a plug-in call: the
// body text (a "Data" string as its characters) into `body`, the status
// returned; a reply without a usable status is a server error (500).
int32_t convertPluginReply(const char* reply, std::string& body);

#endif
