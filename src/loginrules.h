// Texts of a login that need no connection: the argument handed to the
// plug-in, the reply's token and location, the trace mask, the session
// cookie headers and the log mask.
#ifndef TOLVANE_LOGINRULES_H
#define TOLVANE_LOGINRULES_H

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jsonadapter.h"

// The value of the first member named exactly `name` in the JSON object text
// `jsonText`, as text, stored in `out`; returns out.c_str(). Not an object:
// "root parse failed"; no such member: "{}"; memory exhausted: "Internal
// Exception occurrred".
const char* getJsonMemberText(const char* jsonText, const char* name, std::string& out);

// The text of the login reply's "response"."Headers" ("" when missing).
std::string getResponseHeadersText(const json::Value& reply);

// Written into the request trace in place of a login body.
constexpr const char* kLoginTraceMask = "{UserName: ******, ******:******}";

// A JSON string literal in which only the quotation mark, backslash,
// backspace, form feed, line feed, carriage return and tab are escaped; every
// other byte is copied unchanged.
std::string quoteLoginText(std::string_view text);

// {"x-forwarded-for":<hostName>,"requestBody":<body>,
//  "clientAddress":<the client's address>}. The body goes as the client sent
// it: its JSON escapes are the password's own characters.
std::string buildLoginArgument(std::string_view hostName, std::string_view body,
                               std::string_view clientAddress = "");

// The attributes that follow the cookie text in "Set-Cookie".
std::string sessionCookieAttributes(bool overTls);

// "sessionId =" followed by the token, whole.
std::string sessionCookieText(std::string_view token);

// Moment `now` + `timeout` seconds in local time as "%Y-%m-%d %H:%M:%S".
std::string sessionExpiryText(std::time_t now, int32_t timeout);

// The three headers a successful login adds, in order: "Set-Cookie" with the
// cookie text, "Expires" and "Max-Age".
std::vector<std::pair<std::string, std::string>>
sessionCookieHeaderFields(std::string_view cookie, int32_t timeout, std::time_t now);

// `text` with every occurrence of the token (raw and JSON-escaped) replaced by
// "******"; unchanged when the token is empty.
std::string maskToken(std::string_view text, std::string_view token);

#endif
