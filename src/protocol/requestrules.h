// Request rules of the standard profile that come before anything else.
#ifndef TOLVANE_REQUESTRULES_H
#define TOLVANE_REQUESTRULES_H

#include <string>
#include <utility>

struct mg_connection;

// The only OData version the service speaks.
constexpr const char* kODataVersion = "4.0";

// In the standard profile, a request that asks for another OData version
// than 4.0 is answered 412 here; true when it was.
bool refuseUnsupportedODataVersion(struct mg_connection* conn);

// The first query parameter of `query` (the text after "?") that names an
// OData option ("$...") the service does not take, "" when there is none.
// "$expand", "$top" and "$skip" are taken; parameters without "$" are not
// the service's concern.
std::string unsupportedQueryOption(const char* query);

// The first "$top" or "$skip" of `query` whose value is not a count of at
// most nine digits, as {name, value}; {"", ""} when there is none.
std::pair<std::string, std::string> badPagingOption(const char* query);

// What a GET forwards to the plug-in of the request's `query`: in the
// standard profile "$expand=Members" for an expansion and the paging
// options, as "?..." ("" for none); in the classic one "?$expand=Members"
// for any query that is not a part of the word "Members".
std::string forwardedQuery(const char* query);

// In the standard profile, a POST to a collection's "/Members" is a POST to
// the collection: `path` without that last segment. Otherwise `path`.
std::string postTargetOf(const std::string& path);

#endif
